// The compiled part of the package kestrune: the types of Design.h as Python objects. Every call that
// computes for long runs without the interpreter lock on a copy of the design, and polls a progress
// callback and Ctrl+C between turns with the lock taken.

#include "Design.h"
#include "cli/BatchSettings.h"
#include "core/NumberInput.h"

#include <algorithm>
#include <memory>
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

namespace py = pybind11;

namespace kestrune::python {

namespace {

using DesignPtr = std::shared_ptr<Design>;

/// The progress callback of a long run and the interpreter's signals, polled from the core's progress
/// hook: a callback that raises, or Ctrl+C, stops the run; the error is raised once the run returned.
class Watch
{
public:
    explicit Watch(py::object callback) : m_callback(std::move(callback)) {}
    Watch(const Watch&) = delete;
    Watch& operator=(const Watch&) = delete;
    ~Watch()
    {
        Py_XDECREF(m_type);
        Py_XDECREF(m_value);
        Py_XDECREF(m_traceback);
    }

    RunControl control()
    {
        RunControl c;
        c.cancel = &m_cancel;
        c.progress = [this](double fraction) { poll(fraction); };
        return c;
    }

    /// With the lock: raises what stopped the run, if anything did.
    void raiseIfStopped()
    {
        if (!m_type)
            return;
        PyErr_Restore(m_type, m_value, m_traceback);
        m_type = m_value = m_traceback = nullptr;
        throw py::error_already_set();
    }

private:
    void poll(double fraction)
    {
        if (m_cancel.load())
            return;
        py::gil_scoped_acquire lock;
        if (!m_callback.is_none()) {
            try {
                m_callback(fraction);
            } catch (py::error_already_set& e) {
                e.restore();
            }
        }
        if (!PyErr_Occurred())
            PyErr_CheckSignals();
        if (PyErr_Occurred()) {
            PyErr_Fetch(&m_type, &m_value, &m_traceback);
            m_cancel = true;
        }
    }

    py::object m_callback;
    std::atomic<bool> m_cancel{false};
    PyObject* m_type = nullptr;
    PyObject* m_value = nullptr;
    PyObject* m_traceback = nullptr;
};

py::object pythonJson(const Json& value)
{
    return py::module_::import("json").attr("loads")(value.dump());
}

double number(const py::handle& value, const std::string& what)
{
    if (!PyFloat_Check(value.ptr()) && !PyLong_Check(value.ptr()))
        throw py::type_error(what + " takes a number, not " + std::string(py::str(py::type::of(value))));
    return value.cast<double>();
}

template <typename T> py::array_t<T> column(const std::vector<T>& values)
{
    py::array_t<T> array(static_cast<py::ssize_t>(values.size()));
    std::copy(values.begin(), values.end(), array.mutable_data());
    return array;
}

/// One element of a design, by its position; its parameters are attributes.
struct ElementRef
{
    DesignPtr design;
    int index; // 1..count, the program's numbering

    LatticeElement& element() const
    {
        if (index < 1 || index > design->state.line.count)
            throw py::index_error("element " + std::to_string(index) + " is no longer in the line");
        return design->state.line.at(index);
    }
};

/// The line of a design as a Python sequence, indexed from 0.
struct Elements
{
    DesignPtr design;

    int count() const { return design->state.line.count; }
    int position(py::ssize_t i, bool end = false) const
    {
        const py::ssize_t n = count();
        if (i < 0)
            i += n;
        if (i < 0 || i > n || (i == n && !end))
            throw py::index_error("element index out of range");
        return static_cast<int>(i) + 1;
    }
};

py::object parameterValue(const ElementRef& ref, const std::string& name)
{
    const LatticeElement& e = ref.element();
    if (name == "length")
        return py::float_(e.length);
    for (const ElementParameter& p : elementParameters(ref.design->state, ref.index))
        if (p.name == name)
            return py::float_(p.value);
    throw py::attribute_error("element " + std::to_string(ref.index) + " (" + elementKind(e) +
                              ") has no parameter '" + name + "'");
}

void setParameters(State& state, int index, const py::kwargs& parameters)
{
    for (const auto& [key, value] : parameters) {
        const std::string name = py::str(key);
        if (name == "name")
            setElementName(state, index, py::str(value));
        else
            setElementParameter(state, index, name, number(value, name));
    }
}

py::dict elementDict(const ElementRef& ref)
{
    py::dict d;
    d["name"] = ref.element().name;
    d["kind"] = elementKind(ref.element());
    d["length"] = ref.element().length;
    for (const ElementParameter& p : elementParameters(ref.design->state, ref.index))
        d[py::str(p.name)] = p.value;
    return d;
}

std::vector<PhaseVector> particlesOf(const py::array& array)
{
    if (!array.dtype().is(py::dtype::of<double>()) || array.ndim() != 2 || array.shape(1) != 6 ||
        !array.writeable())
        throw DesignError("the particles must be a writable numpy array of float64 with shape (N, 6)");
    const auto a = array.unchecked<double, 2>();
    std::vector<PhaseVector> particles(static_cast<std::size_t>(a.shape(0)));
    for (py::ssize_t i = 0; i < a.shape(0); ++i)
        particles[static_cast<std::size_t>(i)] = {a(i, 0), a(i, 1), a(i, 2), a(i, 3), a(i, 4), a(i, 5)};
    return particles;
}

void writeBack(py::array& array, const std::vector<PhaseVector>& particles)
{
    auto a = array.mutable_unchecked<double, 2>();
    for (py::ssize_t i = 0; i < a.shape(0); ++i) {
        const PhaseVector& p = particles[static_cast<std::size_t>(i)];
        const double v[6] = {p.x, p.px, p.y, p.py, p.delta, p.l};
        for (py::ssize_t j = 0; j < 6; ++j)
            a(i, j) = v[j];
    }
}

py::tuple trackCall(const DesignPtr& design, const py::object& coordinates, int turns,
                    const std::string& model, std::optional<double> aperture, int threads,
                    py::object progress)
{
    // the array itself, never a converted copy: the coordinates change in place
    if (!py::isinstance<py::array>(coordinates))
        throw py::type_error("the particles must be a numpy array of shape (N, 6)");
    py::array particles = py::reinterpret_borrow<py::array>(coordinates);
    std::vector<PhaseVector> start = particlesOf(particles);
    if (threads < 0 || threads > 1024)
        throw DesignError("the threads must be 0 (every core) to 1024");
    const Design copy = *design;
    Watch watch(std::move(progress));
    TrackResult result;
    {
        py::gil_scoped_release unlocked;
        result = track(copy, start, turns, model, aperture, threads, watch.control());
    }
    writeBack(particles, start);
    watch.raiseIfStopped();
    return py::make_tuple(column(result.turn), column(result.element));
}

template <typename Run> py::object watched(py::object progress, Run&& run)
{
    Watch watch(std::move(progress));
    Json result;
    {
        py::gil_scoped_release unlocked;
        result = run(watch.control());
    }
    watch.raiseIfStopped();
    return pythonJson(result);
}

void bindDesign(py::module_& m)
{
    py::class_<Design, DesignPtr>(m, "Design",
                                  "A design: the beam line, the particle and the settings of a ring.")
        .def(py::init([] { return std::make_shared<Design>(newDesign()); }),
             "A new design with the program's start values and an empty beam line.")
        .def("save", &saveDesign, py::arg("path"),
             "Writes the design as a lattice file (through a temporary file).")
        .def("export_madx", &exportMadx, py::arg("path"),
             "Writes the beam line as a MAD-X sequence file; raises Error for elements without a MAD-X "
             "counterpart.")
        .def(
            "set",
            [](Design& d, const std::string& name, const py::object& value) {
                applyBatchSetting(d, name, py::str(value));
            },
            py::arg("name"), py::arg("value"),
            "Sets what a --set NAME=VALUE of the batch tool sets (beam.current_ma, ring.superperiods, ...), "
            "with its checks and messages.")
        .def_property_readonly(
            "file", [](const Design& d) { return d.fileName; }, "The file the design was read from.")
        .def_property_readonly(
            "particle", [](const Design& d) { return pythonJson(particleSection(d.state.beam)); },
            "The particle as the report's particle section: name, charge, rest_energy_ev, momentum_ev, "
            "kinetic_energy_ev, total_energy_ev, gamma, beta.")
        .def(
            "set_particle", [](Design& d, const std::string& name) { setParticle(d, name); }, py::arg("name"),
            "Makes the particle an \"electron\" or a \"proton\" of the same momentum.")
        .def_property(
            "momentum", [](const Design& d) { return d.state.beam.momentum; },
            [](Design& d, const py::object& value) { setMomentum(d, number(value, "the momentum")); },
            "The momentum cp of the particle in eV; setting it checks it as the particle window does.")
        .def_property_readonly(
            "elements", [](const DesignPtr& d) { return Elements{d}; },
            "The beam line: a sequence of elements, indexed from 0.")
        .def(
            "_twiss",
            [](const DesignPtr& d, bool periodic, bool slices) {
                // a pass of milliseconds: with the lock held, on the design itself
                const TwissTable t = twiss(*d, periodic, slices);
                py::dict table;
                const std::pair<const char*, const std::vector<double>*> columns[] = {
                    {"s", &t.s},     {"betx", &t.betx}, {"alfx", &t.alfx},
                    {"mux", &t.mux}, {"bety", &t.bety}, {"alfy", &t.alfy},
                    {"muy", &t.muy}, {"dx", &t.dx},     {"dpx", &t.dpx}};
                for (const auto& [name, values] : columns)
                    table[name] = column(*values);
                table["element"] = column(t.element);
                const double summary[] = {t.q1, t.q2, t.dq1, t.dq2};
                const char* names[] = {"q1", "q2", "dq1", "dq2"};
                for (int i = 0; i < 4; ++i)
                    table[names[i]] =
                        std::isfinite(summary[i]) ? py::object(py::float_(summary[i])) : py::none();
                return table;
            },
            py::arg("periodic"), py::arg("slices"), "The columns of Design.twiss.")
        .def(
            "_report",
            [](const DesignPtr& d, py::object progress) {
                const Design copy = *d;
                return watched(std::move(progress), [&copy](const RunControl&) { return report(copy); });
            },
            py::arg("progress") = py::none(), "The batch tool's report as JSON-compatible values.")
        .def(
            "_ring",
            [](const DesignPtr& d) {
                const Design copy = *d;
                return watched(py::none(), [&copy](const RunControl&) { return ringSections(copy); });
            },
            "The report's ring sections.")
        .def(
            "track", &trackCall, py::arg("particles"), py::arg("turns"), py::arg("model") = "symplectic",
            py::arg("aperture") = py::none(), py::arg("threads") = 1, py::arg("progress") = py::none(),
            "Tracks particles, an (N, 6) float64 numpy array of x (m), px, y (m), py, delta, l (m), in place "
            "over turns turns of the full ring, as the batch tool tracks (model \"symplectic\" with the rf "
            "cavity of a closed ring with an rf voltage, or \"linear\", which reads px and py as x' and y' "
            "and leaves delta and l). aperture: half aperture in x (m). threads: 0 for every core; the "
            "results do not depend on it. progress(fraction) is called between turns. Returns (turns, "
            "elements): the turns completed or the turn of the loss, and the element of the full ring "
            "after which each particle was lost (0 for a survivor). Ctrl+C stops the run, leaving the "
            "coordinates reached in the array.")
        .def(
            "tracking",
            [](const DesignPtr& d, const std::vector<std::string>& typed, const std::string& model,
               const std::string& aperture) {
                const Design copy = *d;
                return watched(py::none(), [&](const RunControl&) {
                    return trackingSummary(copy, typed, model, aperture);
                });
            },
            py::arg("track"), py::arg("model") = "symplectic", py::arg("aperture_mm") = "",
            "One particle as --track TURNS X XP Y YP [DELTA L] tracks it, the texts as typed on the command "
            "line (mm, mrad, %); the report's tracking section.")
        .def(
            "_scans",
            [](const DesignPtr& d, bool radial, bool grid, bool acceptance,
               const std::vector<std::pair<std::string, std::string>>& options, py::object progress) {
                const Design copy = *d;
                const ScanOptions scan{radial, grid, acceptance, options};
                return watched(std::move(progress),
                               [&](const RunControl& control) { return apertureScans(copy, scan, control); });
            },
            py::arg("radial"), py::arg("grid"), py::arg("acceptance"), py::arg("options"),
            py::arg("progress") = py::none(), "The aperture scans of the batch tool, options as typed.")
        .def(
            "_match",
            [](const DesignPtr& d, const std::string& definition, py::object progress) {
                Design copy = *d;
                Watch watch(std::move(progress));
                Json section;
                {
                    py::gil_scoped_release unlocked;
                    section = match(copy, definition, watch.control());
                }
                d->state = std::move(copy.state);
                watch.raiseIfStopped();
                return pythonJson(section);
            },
            py::arg("definition"), py::arg("progress") = py::none(),
            "The match of a match file's JSON text; the report's match section.");
}

void bindElements(py::module_& m)
{
    py::class_<ElementRef>(m, "Element",
                           "One element of the beam line: name, kind, length and the parameters the element "
                           "panel shows, as attributes; assigning one goes through the element panel.")
        .def_property_readonly(
            "index",
            [](const ElementRef& r) {
                r.element();
                return r.index;
            },
            "The element's number in the program (1 for the first).")
        .def_property_readonly(
            "name", [](const ElementRef& r) { return r.element().name; }, "The element's name.")
        .def_property_readonly(
            "kind", [](const ElementRef& r) { return elementKind(r.element()); },
            "The kind in the editor's words.")
        .def_property_readonly(
            "code", [](const ElementRef& r) { return r.element().code; }, "The element code.")
        .def_property_readonly(
            "s", [](const ElementRef& r) { return r.element().s; }, "Entrance position (m).")
        .def_property_readonly(
            "parameters", [](const ElementRef& r) { return elementDict(r); },
            "name, kind, length and every parameter, as a dict.")
        .def("__getattr__", &parameterValue, py::arg("name"),
             "The parameter called name: a stored field in SI units, or a panel row in the panel's unit.")
        .def(
            "__setattr__",
            [](const ElementRef& r, const std::string& name, const py::object& value) {
                r.element();
                if (name == "name") {
                    setElementName(r.design->state, r.index, py::str(value));
                    return;
                }
                parameterValue(r, name); // an unknown name is an AttributeError, as for any object
                setElementParameter(r.design->state, r.index, name, number(value, name));
            },
            py::arg("name"), py::arg("value"),
            "Sets name (the element's name or a parameter) as the element panel does; raises Error with the "
            "panel's message when it is refused, the design then unchanged.")
        .def(
            "__dir__",
            [](const ElementRef& r) {
                py::list names;
                for (const char* n : {"name", "kind", "code", "index", "s", "length", "parameters"})
                    names.append(n);
                for (const ElementParameter& p : elementParameters(r.design->state, r.index))
                    if (p.name != "length")
                        names.append(p.name);
                return names;
            },
            "The attributes, with the element's parameters.")
        .def(
            "__repr__",
            [](const ElementRef& r) {
                std::string text = "<Element " + std::to_string(r.index) + " '" + r.element().name + "' " +
                                   elementKind(r.element());
                for (const ElementParameter& p : elementParameters(r.design->state, r.index))
                    text += " " + p.name + "=" + std::string(py::repr(py::float_(p.value)));
                return text + ">";
            },
            "The element's number, name, kind and parameters.");

    py::class_<Elements>(
        m, "Elements",
        "The beam line as a sequence indexed from 0; insert, remove and replace change it as "
        "the element editor does.")
        .def("__len__", &Elements::count, "The number of elements.")
        .def(
            "__getitem__",
            [](const Elements& l, py::ssize_t i) {
                return ElementRef{l.design, l.position(i)};
            },
            py::arg("index"), "The element at index (from 0; negative from the end).")
        .def(
            "__delitem__",
            [](const Elements& l, py::ssize_t i) { removeElement(l.design->state, l.position(i)); },
            py::arg("index"), "Removes the element at index.")
        .def(
            "insert",
            [](const Elements& l, py::ssize_t i, const std::string& kind, const py::kwargs& parameters) {
                const py::ssize_t n = l.count();
                const int position = l.position(std::clamp<py::ssize_t>(i < 0 ? i + n : i, 0, n), true);
                State trial = l.design->state;
                insertElement(trial, position, kind);
                setParameters(trial, position, parameters);
                l.design->state = std::move(trial);
                return ElementRef{l.design, position};
            },
            py::arg("index"), py::arg("kind"),
            "Inserts a new element of kind (\"drift space\", \"quadrupole\", ...) before index "
            "(len(elements) "
            "appends), then sets the parameters given by keyword (name=, length=, k=, ...) through the "
            "element panel; nothing changes when any is refused. Returns the element.")
        .def(
            "append",
            [](const Elements& l, const std::string& kind, const py::kwargs& parameters) {
                State trial = l.design->state;
                const int position = insertElement(trial, trial.line.count + 1, kind);
                setParameters(trial, position, parameters);
                l.design->state = std::move(trial);
                return ElementRef{l.design, position};
            },
            py::arg("kind"), "Appends a new element of kind, with parameters as for insert.")
        .def(
            "remove", [](const Elements& l, py::ssize_t i) { removeElement(l.design->state, l.position(i)); },
            py::arg("index"), "Removes the element at index; the elements behind close up.")
        .def(
            "replace",
            [](const Elements& l, py::ssize_t i, const std::string& kind, const py::kwargs& parameters) {
                const int position = l.position(i);
                State trial = l.design->state;
                const double length = trial.line.at(position).length;
                removeElement(trial, position);
                insertElement(trial, position, kind);
                setElementParameter(trial, position, "length", length);
                setParameters(trial, position, parameters);
                l.design->state = std::move(trial);
                return ElementRef{l.design, position};
            },
            py::arg("index"), py::arg("kind"),
            "Replaces the element at index by a new element of kind of the same length, with parameters as "
            "for insert.")
        .def(
            "named",
            [](const Elements& l, const std::string& name) {
                py::list found;
                for (int i = 1; i <= l.count(); ++i)
                    if (l.design->state.line.at(i).name == name)
                        found.append(ElementRef{l.design, i});
                return found;
            },
            py::arg("name"), "Every element called name, in line order.");
}

} // namespace

} // namespace kestrune::python

PYBIND11_MODULE(_kestrune, m)
{
    using namespace kestrune::python;
    m.doc() = "The compiled part of the package kestrune.";
    static py::exception<DesignError> error(m, "Error", PyExc_ValueError);
    error.doc() = "A refusal of the program, with its message.";
    py::register_exception_translator([](std::exception_ptr p) {
        try {
            if (p)
                std::rethrow_exception(p);
        } catch (const DesignError& e) {
            PyErr_SetString(error.ptr(), e.what());
        } catch (const kestrune::ConversionError& e) {
            PyErr_SetString(error.ptr(), e.what());
        } catch (const kestrune::BatchUsageError& e) {
            PyErr_SetString(error.ptr(), e.what());
        }
    });
    bindDesign(m);
    bindElements(m);
    m.def(
        "open", [](const std::string& path) { return std::make_shared<Design>(openDesign(path)); },
        py::arg("path"),
        "Reads a lattice file, or MAD-X input when its name ends in .madx, .seq or .mad, as the batch tool "
        "reads it; returns a Design.");
    m.def(
        "import_madx",
        [](const std::string& path, const std::optional<std::string>& line) {
            return std::make_shared<Design>(importMadx(path, line.value_or("")));
        },
        py::arg("path"), py::arg("line") = py::none(),
        "Reads MAD-X input; line names the sequence or line to use (by default the file's own use, or "
        "its last sequence). Returns a Design.");
}
