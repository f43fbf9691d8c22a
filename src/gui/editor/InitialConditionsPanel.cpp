#include "gui/editor/InitialConditionsPanel.h"

#include "core/NumberInput.h"
#include "core/coupling/CoupledPass.h"

#include <QComboBox>
#include <QFrame>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

namespace kestrune {

namespace {

constexpr int kBoxWidth = 80;
constexpr int kSigmaBoxWidth = 60;

// the entries of cbStartForm
constexpr int kEdwardsTengForm = 0;
constexpr int kBeamMatrixForm = 1;
constexpr int kMaisRipkenForm = 2;

// the Mais-Ripken boxes in the order of m_edMr
const char* const kMaisRipkenNames[10] = {"edB11", "edB12", "edB21", "edB22", "edA11",
                                          "edA12", "edA21", "edA22", "edNu1", "edNu2"};

QLabel* label(const QString& text, QWidget* parent)
{
    return new QLabel(text, parent);
}

QFrame* makeFrame(const char* name, QWidget* host)
{
    auto* frame = new QFrame(host);
    frame->setObjectName(name);
    frame->setFrameShape(QFrame::Panel);
    frame->setFrameShadow(QFrame::Raised);
    frame->setAutoFillBackground(true);
    return frame;
}

QPushButton* useButton(const char* name, QWidget* parent)
{
    auto* button = new QPushButton("use", parent);
    button->setObjectName(name);
    button->setDefault(true);
    return button;
}

// a number longer than its box shows its leading digits
void setText(QLineEdit* box, const std::string& text)
{
    box->setText(QString::fromStdString(text));
    box->setCursorPosition(0);
}

std::string text(const QLineEdit* box)
{
    return box->text().toStdString();
}

} // namespace

InitialConditionsPanel::InitialConditionsPanel(State& state, Messages& messages, QWidget* parent)
    : QWidget(parent), m_state(state), m_messages(messages)
{
    setObjectName("InitialConditions");
    QWidget* host = parent ? parent : this;
    buildSingleParticle(host);
    buildLatticeFunctions(host);
    setBoxes(InitialBoxes{});
    hidePanels();
    hide();
}

InitialConditionsPanel::~InitialConditionsPanel()
{
    // the frames live on the parent, beside this object
    delete m_sinPart.data();
    delete m_initLatFun.data();
}

QLineEdit* InitialConditionsPanel::makeBox(const char* name, QWidget* parent)
{
    auto* box = new QLineEdit(parent);
    box->setObjectName(name);
    box->setFixedWidth(kBoxWidth);
    return box;
}

void InitialConditionsPanel::buildSingleParticle(QWidget* host)
{
    m_sinPart = makeFrame("pnSinPart", host);
    auto* layout = new QVBoxLayout(m_sinPart);
    layout->setContentsMargins(6, 6, 6, 6);
    auto* title = label("initial particle coordinates:", m_sinPart);
    QFont bold = title->font();
    bold.setBold(true);
    title->setFont(bold);
    layout->addWidget(title);

    auto* grid = new QGridLayout;
    grid->setHorizontalSpacing(4);
    struct Row
    {
        const char* caption;
        const char* name;
        const char* unit;
        QLineEdit** box;
        int row;
        int column;
    };
    const Row rows[] = {
        {"x_o   = ", "edXo", "mm", &m_edXo, 0, 0},  {"x'_o = ", "edXpo", "mr", &m_edXpo, 1, 0},
        {" y_o   = ", "edYo", "mm", &m_edYo, 0, 3}, {" y'_o = ", "edYpo", "mr", &m_edYpo, 1, 3},
        {"D_o  = ", "edD0", "m", &m_edD0, 2, 0},    {"D'_o =", "edDp0", "rad", &m_edDp0, 2, 3},
        {" dpp = ", "edDpp", "%", &m_edDpp, 3, 0},
    };
    for (const Row& r : rows) {
        *r.box = makeBox(r.name, m_sinPart);
        grid->addWidget(label(r.caption, m_sinPart), r.row, r.column);
        grid->addWidget(*r.box, r.row, r.column + 1);
        grid->addWidget(label(r.unit, m_sinPart), r.row, r.column + 2);
    }
    auto* use = useButton("bbUseSngl", m_sinPart);
    grid->addWidget(use, 3, 4, 1, 2);
    layout->addLayout(grid);
    connect(use, &QPushButton::clicked, this, [this] { storing(&InitialConditionsPanel::bbSinPartClick); });
    m_sinPart->adjustSize();
}

void InitialConditionsPanel::buildLatticeFunctions(QWidget* host)
{
    m_initLatFun = makeFrame("pnInitLatFun", host);
    auto* layout = new QVBoxLayout(m_initLatFun);
    layout->setContentsMargins(6, 6, 6, 6);

    // how the start beam is typed: Edwards-Teng values of its modes with R, or its beam matrix
    auto* form = new QHBoxLayout;
    form->addWidget(label("start typed as:", m_initLatFun));
    m_cbStartForm = new QComboBox(m_initLatFun);
    m_cbStartForm->setObjectName("cbStartForm");
    m_cbStartForm->addItems({"Edwards-Teng values", "beam matrix", "Mais-Ripken values"});
    form->addWidget(m_cbStartForm);
    form->addStretch(1);
    layout->addLayout(form);
    buildBeamMatrix(m_initLatFun, layout);
    buildMaisRipken(m_initLatFun, layout);

    m_gbBeta = new QGroupBox("specify initial lattice functions", m_initLatFun);
    m_gbBeta->setObjectName("gbBeta");
    auto* beta = new QGridLayout(m_gbBeta);
    beta->addWidget(label("  x-plane        y-plane", m_gbBeta), 0, 1, 1, 2);
    auto* useLattice = useButton("bbInitLatFun", m_gbBeta);
    beta->addWidget(useLattice, 0, 3, Qt::AlignRight);
    m_edBetax0 = makeBox("edBetax0", m_gbBeta);
    m_edBetay0 = makeBox("edBetay0", m_gbBeta);
    m_edAlphax0 = makeBox("edAlphax0", m_gbBeta);
    m_edAlphay0 = makeBox("edAlphay0", m_gbBeta);
    beta->addWidget(label(" β₀:", m_gbBeta), 1, 0);
    beta->addWidget(m_edBetax0, 1, 1);
    beta->addWidget(m_edBetay0, 1, 2);
    beta->addWidget(label("m", m_gbBeta), 1, 3);
    beta->addWidget(label(" α₀:", m_gbBeta), 2, 0);
    beta->addWidget(m_edAlphax0, 2, 1);
    beta->addWidget(m_edAlphay0, 2, 2);
    layout->addWidget(m_gbBeta);

    auto* dispersion = new QGridLayout;
    dispersion->setContentsMargins(9, 0, 9, 0);
    m_edEtax0 = makeBox("edEtax0", m_initLatFun);
    m_edEtapx0 = makeBox("edEtapx0", m_initLatFun);
    m_edEtay0 = makeBox("edEtay0", m_initLatFun);
    m_edEtapy0 = makeBox("edEtapy0", m_initLatFun);
    m_edDelta = makeBox("edDelta", m_initLatFun);
    dispersion->addWidget(label(" η₀:", m_initLatFun), 0, 0);
    dispersion->addWidget(m_edEtax0, 0, 1);
    dispersion->addWidget(m_edEtay0, 0, 2);
    dispersion->addWidget(label("m", m_initLatFun), 0, 3);
    dispersion->addWidget(label(" η′₀:", m_initLatFun), 1, 0);
    dispersion->addWidget(m_edEtapx0, 1, 1);
    dispersion->addWidget(m_edEtapy0, 1, 2);
    // the start coupling of the two modes, Edwards-Teng's R as MAD-X's R11 .. R22
    m_edR11 = makeBox("edR11", m_initLatFun);
    m_edR12 = makeBox("edR12", m_initLatFun);
    m_edR21 = makeBox("edR21", m_initLatFun);
    m_edR22 = makeBox("edR22", m_initLatFun);
    dispersion->addWidget(label(" R₁₁ R₁₂:", m_initLatFun), 2, 0);
    dispersion->addWidget(m_edR11, 2, 1);
    dispersion->addWidget(m_edR12, 2, 2);
    dispersion->addWidget(label("1, m", m_initLatFun), 2, 3);
    dispersion->addWidget(label(" R₂₁ R₂₂:", m_initLatFun), 3, 0);
    dispersion->addWidget(m_edR21, 3, 1);
    dispersion->addWidget(m_edR22, 3, 2);
    dispersion->addWidget(label("1/m, 1", m_initLatFun), 3, 3);
    dispersion->addWidget(label(" δ:", m_initLatFun), 4, 0);
    dispersion->addWidget(m_edDelta, 4, 1);
    dispersion->addWidget(label("%", m_initLatFun), 4, 2);
    dispersion->setColumnStretch(4, 1);
    layout->addLayout(dispersion);

    m_gbBeam = new QGroupBox("specify beam sizes", m_initLatFun);
    m_gbBeam->setObjectName("gbBeam");
    auto* beam = new QGridLayout(m_gbBeam);
    m_edEpsx = makeBox("edEpsx", m_gbBeam);
    m_edEpsy = makeBox("edEpsy", m_gbBeam);
    m_edSigx0 = makeBox("edSigx0", m_gbBeam);
    m_edSigy0 = makeBox("edSigy0", m_gbBeam);
    beam->addWidget(label(" ε", m_gbBeam), 0, 0);
    beam->addWidget(m_edEpsx, 0, 1);
    beam->addWidget(m_edEpsy, 0, 2);
    beam->addWidget(label("mm mr", m_gbBeam), 0, 3);
    beam->addWidget(label(" σ₀", m_gbBeam), 1, 0);
    beam->addWidget(m_edSigx0, 1, 1);
    beam->addWidget(m_edSigy0, 1, 2);
    beam->addWidget(label("mm", m_gbBeam), 1, 3);
    auto* useBeam = useButton("bbUseBeam", m_gbBeam);
    useBeam->setDefault(false);
    beam->addWidget(useBeam, 2, 3, Qt::AlignRight);
    layout->addWidget(m_gbBeam);

    connect(useLattice, &QPushButton::clicked, this,
            [this] { storing(&InitialConditionsPanel::bbInitLatFunClick); });
    connect(m_cbStartForm, &QComboBox::currentIndexChanged, this, &InitialConditionsPanel::cbStartFormChange);
    cbStartFormChange();
    connect(useBeam, &QPushButton::clicked, this,
            [this] { storing(&InitialConditionsPanel::initBeamSizeClick); });
    m_initLatFun->adjustSize();
}

void InitialConditionsPanel::buildBeamMatrix(QWidget* parent, QLayout* layout)
{
    // the upper triangle of S_ij, rows S1 .. S4 and columns 1 .. 4, so that box S33 is row S3, column 3
    m_gbSigma = new QGroupBox("beam matrix S (1 x, 2 x', 3 y, 4 y'; mm, mrad)", parent);
    m_gbSigma->setObjectName("gbSigma");
    auto* grid = new QGridLayout(m_gbSigma);
    grid->setHorizontalSpacing(4);
    for (int c = 0; c < 4; ++c)
        grid->addWidget(label(QString::number(c + 1), m_gbSigma), 0, c + 1, Qt::AlignHCenter);
    for (int r = 0; r < 4; ++r) {
        grid->addWidget(label(QString(" S%1").arg(r + 1), m_gbSigma), r + 1, 0);
        for (int c = r; c < 4; ++c) {
            const std::string name = "edS" + std::to_string(r + 1) + std::to_string(c + 1);
            m_edS[r][c] = makeBox(name.c_str(), m_gbSigma);
            m_edS[r][c]->setFixedWidth(kSigmaBoxWidth);
            grid->addWidget(m_edS[r][c], r + 1, c + 1);
        }
    }
    grid->addWidget(label("β, α and R below follow from it", m_gbSigma), 5, 0, 1, 5);
    layout->addWidget(m_gbSigma);
}

void InitialConditionsPanel::buildMaisRipken(QWidget* parent, QLayout* layout)
{
    // a row kj for plane k (1 x, 2 y) of mode j, modes 1 and 2 in turn, its beta and alpha side by side
    m_gbMaisRipken = new QGroupBox("Mais-Ripken values (kj: plane k 1 x, 2 y; mode j)", parent);
    m_gbMaisRipken->setObjectName("gbMaisRipken");
    auto* grid = new QGridLayout(m_gbMaisRipken);
    grid->setHorizontalSpacing(4);
    grid->addWidget(label("β_kj (m)", m_gbMaisRipken), 0, 1, Qt::AlignHCenter);
    grid->addWidget(label("α_kj", m_gbMaisRipken), 0, 2, Qt::AlignHCenter);
    for (int k = 0; k < 10; ++k)
        m_edMr[k] = makeBox(kMaisRipkenNames[k], m_gbMaisRipken);
    const char* const rows[4] = {" 11:", " 21:", " 12:", " 22:"};
    const int order[4] = {0, 2, 1, 3}; // of m_edMr's 11, 12, 21, 22
    for (int r = 0; r < 4; ++r) {
        grid->addWidget(label(rows[r], m_gbMaisRipken), r + 1, 0);
        grid->addWidget(m_edMr[order[r]], r + 1, 1);
        grid->addWidget(m_edMr[4 + order[r]], r + 1, 2);
    }
    grid->addWidget(label(" ν₁, ν₂:", m_gbMaisRipken), 5, 0);
    grid->addWidget(m_edMr[8], 5, 1);
    grid->addWidget(m_edMr[9], 5, 2);
    grid->addWidget(label("rad", m_gbMaisRipken), 5, 3);
    grid->addWidget(label("ν₁: mode 1's y ahead of its x, ν₂: mode 2's x\nahead of its y; β, α and R below "
                          "follow from them",
                          m_gbMaisRipken),
                    6, 0, 1, 4);
    grid->setColumnStretch(4, 1);
    layout->addWidget(m_gbMaisRipken);
}

std::vector<std::string> InitialConditionsPanel::formTexts(int form) const
{
    std::vector<std::string> texts;
    if (form == kBeamMatrixForm)
        for (int r = 0; r < 4; ++r)
            for (int c = r; c < 4; ++c)
                texts.push_back(text(m_edS[r][c]));
    if (form == kMaisRipkenForm)
        for (const QLineEdit* box : m_edMr)
            texts.push_back(text(box));
    return texts;
}

void InitialConditionsPanel::cbStartFormChange()
{
    const int form = m_cbStartForm->currentIndex();
    if (form != m_startForm) {
        // a form left as the switch filled it holds the Edwards-Teng boxes' own values: nothing to take
        const bool changed = m_startForm != kEdwardsTengForm && formTexts(m_startForm) != m_filledForm;
        showingConversionErrors(m_messages, [&] {
            InitialBoxes b = boxes();
            if (changed && (m_startForm == kBeamMatrixForm ? beamMatrixToBoxes(b, m_messages)
                                                           : maisRipkenToBoxes(b, m_messages)))
                setBoxes(b);
            b = boxes();
            if (form == kBeamMatrixForm ? boxesToBeamMatrix(b, m_messages)
                                        : form == kMaisRipkenForm && boxesToMaisRipken(b, m_messages))
                setBoxes(b);
        });
        m_filledForm = formTexts(form);
    }
    m_startForm = form;
    m_gbSigma->setVisible(form == kBeamMatrixForm);
    m_gbMaisRipken->setVisible(form == kMaisRipkenForm);
    for (QLineEdit* box :
         {m_edBetax0, m_edBetay0, m_edAlphax0, m_edAlphay0, m_edR11, m_edR12, m_edR21, m_edR22})
        if (box)
            box->setReadOnly(form != kEdwardsTengForm);
    m_initLatFun->adjustSize();
}

void InitialConditionsPanel::storing(void (InitialConditionsPanel::*click)())
{
    emit aboutToStore();
    (this->*click)();
    emit storeEnded();
}

InitialBoxes InitialConditionsPanel::boxes() const
{
    InitialBoxes b;
    b.edXo = text(m_edXo);
    b.edXpo = text(m_edXpo);
    b.edYo = text(m_edYo);
    b.edYpo = text(m_edYpo);
    b.edD0 = text(m_edD0);
    b.edDp0 = text(m_edDp0);
    b.edDpp = text(m_edDpp);
    b.edBetax0 = text(m_edBetax0);
    b.edAlphax0 = text(m_edAlphax0);
    b.edBetay0 = text(m_edBetay0);
    b.edAlphay0 = text(m_edAlphay0);
    b.edEtax0 = text(m_edEtax0);
    b.edEtapx0 = text(m_edEtapx0);
    b.edEtay0 = text(m_edEtay0);
    b.edEtapy0 = text(m_edEtapy0);
    b.edR11 = text(m_edR11);
    b.edR12 = text(m_edR12);
    b.edR21 = text(m_edR21);
    b.edR22 = text(m_edR22);
    b.edDelta = text(m_edDelta);
    b.edEpsx = text(m_edEpsx);
    b.edEpsy = text(m_edEpsy);
    b.edSigx0 = text(m_edSigx0);
    b.edSigy0 = text(m_edSigy0);
    std::string* sigma[] = {&b.edS11, &b.edS12, &b.edS13, &b.edS14, &b.edS22,
                            &b.edS23, &b.edS24, &b.edS33, &b.edS34, &b.edS44};
    int k = 0;
    for (int r = 0; r < 4; ++r)
        for (int c = r; c < 4; ++c)
            *sigma[k++] = text(m_edS[r][c]);
    std::string* mr[] = {&b.edB11, &b.edB12, &b.edB21, &b.edB22, &b.edA11,
                         &b.edA12, &b.edA21, &b.edA22, &b.edNu1, &b.edNu2};
    for (int j = 0; j < 10; ++j)
        *mr[j] = text(m_edMr[j]);
    return b;
}

void InitialConditionsPanel::setBoxes(const InitialBoxes& b)
{
    setText(m_edXo, b.edXo);
    setText(m_edXpo, b.edXpo);
    setText(m_edYo, b.edYo);
    setText(m_edYpo, b.edYpo);
    setText(m_edD0, b.edD0);
    setText(m_edDp0, b.edDp0);
    setText(m_edDpp, b.edDpp);
    setText(m_edBetax0, b.edBetax0);
    setText(m_edAlphax0, b.edAlphax0);
    setText(m_edBetay0, b.edBetay0);
    setText(m_edAlphay0, b.edAlphay0);
    setText(m_edEtax0, b.edEtax0);
    setText(m_edEtapx0, b.edEtapx0);
    setText(m_edEtay0, b.edEtay0);
    setText(m_edEtapy0, b.edEtapy0);
    setText(m_edR11, b.edR11);
    setText(m_edR12, b.edR12);
    setText(m_edR21, b.edR21);
    setText(m_edR22, b.edR22);
    setText(m_edDelta, b.edDelta);
    setText(m_edEpsx, b.edEpsx);
    setText(m_edEpsy, b.edEpsy);
    setText(m_edSigx0, b.edSigx0);
    setText(m_edSigy0, b.edSigy0);
    const std::string* sigma[] = {&b.edS11, &b.edS12, &b.edS13, &b.edS14, &b.edS22,
                                  &b.edS23, &b.edS24, &b.edS33, &b.edS34, &b.edS44};
    int k = 0;
    for (int r = 0; r < 4; ++r)
        for (int c = r; c < 4; ++c)
            setText(m_edS[r][c], *sigma[k++]);
    const std::string* mr[] = {&b.edB11, &b.edB12, &b.edB21, &b.edB22, &b.edA11,
                               &b.edA12, &b.edA21, &b.edA22, &b.edNu1, &b.edNu2};
    for (int j = 0; j < 10; ++j)
        setText(m_edMr[j], *mr[j]);
}

void InitialConditionsPanel::showPanels(const StartPanels& panels)
{
    if (!panels.betaTitle.empty())
        m_gbBeta->setTitle(QString::fromStdString(panels.betaTitle));
    m_gbBeam->setVisible(panels.beamSizes);
    m_initLatFun->adjustSize();
    m_sinPart->setVisible(panels.singleParticle);
    m_initLatFun->setVisible(panels.latticeFunctions);
    if (panels.singleParticle)
        m_sinPart->raise();
    if (panels.latticeFunctions)
        m_initLatFun->raise();
}

void InitialConditionsPanel::hidePanels()
{
    m_sinPart->hide();
    m_initLatFun->hide();
}

void InitialConditionsPanel::showSingleParticle()
{
    showPanels(singleParticleCommand(m_state));
    emit seriesRetitleRequested("path");
}

void InitialConditionsPanel::showLatticeFunctions()
{
    showPanels(initialLatticeCommand(m_state));
}

void InitialConditionsPanel::showBeamSizes()
{
    InitialBoxes b = boxes();
    // with a negative emittance in its box the panel opens to have it corrected, and nothing is taken
    if (!emittancesAccepted(b, m_messages)) {
        showPanels(beamSizePanels());
        return;
    }
    const StartPanels panels = showBeamSizesCommand(m_state, b);
    setBoxes(b);
    showPanels(panels);
}

bool InitialConditionsPanel::lookForPeriodicSolution(ListSink* list)
{
    hidePanels();
    InitialBoxes b = boxes();
    if (!kestrune::lookForPeriodicSolution(m_state, b, m_messages, list, opticsPeriodicSolution))
        return false;
    setBoxes(b);
    emit updateRequested();
    return true;
}

void InitialConditionsPanel::resetBoxes()
{
    InitialBoxes b = boxes();
    // the angle unit belongs to the element panel
    PanelSettings angleUnit;
    kestrune::resetBoxes(b, angleUnit);
    setBoxes(b);
}

void InitialConditionsPanel::fillFromState()
{
    InitialBoxes b = boxes();
    boxesAfterFileOpen(m_state, b);
    setBoxes(b);
}

void InitialConditionsPanel::bbSinPartClick()
{
    readSingleParticle(m_state, boxes());
    m_sinPart->hide();
    if (finishSingleParticle(m_state, m_messages))
        emit updateRequested();
}

void InitialConditionsPanel::bbInitLatFunClick()
{
    InitialBoxes b = boxes();
    // a beam matrix or Mais-Ripken values become the Edwards-Teng values of their modes, stored as if
    // typed; left as the switch filled them, they are the Edwards-Teng boxes' values already
    const int form = m_cbStartForm->currentIndex();
    if (form != kEdwardsTengForm && formTexts(form) != m_filledForm) {
        if (!(form == kBeamMatrixForm ? beamMatrixToBoxes(b, m_messages) : maisRipkenToBoxes(b, m_messages)))
            return;
        setBoxes(b);
    }
    // the emittances are read in the beam-size and trajectory modes only
    if ((m_state.run.showBeamSize || m_state.run.showTrajectory) && !emittancesAccepted(b, m_messages))
        return;
    const bool update = useLatticeFunctions(m_state, b, m_messages);
    setBoxes(b);
    m_initLatFun->hide();
    if (update)
        emit updateRequested();
}

void InitialConditionsPanel::initBeamSizeClick()
{
    InitialBoxes b = boxes();
    if (!emittancesAccepted(b, m_messages))
        return;
    // a refused box keeps the panel open with what was typed
    if (!useBeamSizes(m_state, b, m_messages))
        return;
    setBoxes(b);
    m_initLatFun->hide();
    emit updateRequested();
}

} // namespace kestrune
