#include "gui/matching/MatchTables.h"

#include "core/Format.h"
#include "core/NumberInput.h"

#include <QComboBox>
#include <QHeaderView>
#include <cmath>

namespace kestrune {

namespace {

const QColor kMetColour(0, 128, 0);
const QColor kUnmetColour(192, 0, 0);

QString q(const std::string& s)
{
    return QString::fromStdString(s);
}

void setupTable(QTableWidget& table, const QStringList& headers)
{
    table.setColumnCount(headers.size());
    table.setHorizontalHeaderLabels(headers);
    table.verticalHeader()->setDefaultSectionSize(table.fontMetrics().height() + 8);
    table.horizontalHeader()->setStretchLastSection(true);
    table.setSelectionMode(QAbstractItemView::SingleSelection);
    table.setSelectionBehavior(QAbstractItemView::SelectItems);
}

void setText(QTableWidget& table, int row, int column, const QString& text, bool editable = true)
{
    auto* item = new QTableWidgetItem(text);
    if (!editable)
        item->setFlags(item->flags() & ~Qt::ItemIsEditable);
    table.setItem(row, column, item);
}

QString cellText(const QTableWidget& table, int row, int column)
{
    const QTableWidgetItem* item = table.item(row, column);
    return item ? item->text().trimmed() : QString();
}

// A number cell: fallback when empty; the conversion error names the table, row and column.
double number(const QTableWidget& table, const char* name, int row, int column, double fallback)
{
    const QString text = cellText(table, row, column);
    if (text.isEmpty())
        return fallback;
    try {
        return parseDouble(text.toStdString());
    } catch (const ConversionError& e) {
        const QString header = table.horizontalHeaderItem(column)->text();
        throw ConversionError(std::string(name) + ", row " + std::to_string(row + 1) + ", " +
                              header.toStdString() + ": " + e.what());
    }
}

QString numberText(double value)
{
    return std::isfinite(value) ? q(shortestFloat(value)) : QString();
}

QString valueText(double value)
{
    return q(fmtOrNa("%.7g", value)).trimmed();
}

// A value shown with 7 digits, all of them in its tool tip.
void showValue(QTableWidgetItem* item, double value)
{
    item->setText(valueText(value));
    item->setToolTip(std::isfinite(value) ? q(shortestFloat(value)) : QString());
}

QComboBox* combo(QTableWidget& table, int row, int column, const char* name)
{
    auto* box = new QComboBox(&table);
    box->setObjectName(name);
    box->setFrame(false);
    table.setCellWidget(row, column, box);
    return box;
}

QVariant comboData(const QTableWidget& table, int row, int column)
{
    const auto* box = qobject_cast<const QComboBox*>(table.cellWidget(row, column));
    return box ? box->currentData() : QVariant();
}

void selectData(QTableWidget& table, int row, int column, int data)
{
    auto* box = qobject_cast<QComboBox*>(table.cellWidget(row, column));
    if (box)
        box->setCurrentIndex(std::max(0, box->findData(data)));
}

} // namespace

VariableTable::VariableTable(QWidget* parent) : QTableWidget(0, ColumnCount, parent)
{
    setObjectName("tbVariables");
    setupTable(*this, {"element", "field", "min", "max", "step", "start", "now"});
    setColumnWidth(Element, 62);
    setColumnWidth(Field, 58);
    for (int c : {Min, Max, Step})
        setColumnWidth(c, 46);
    setColumnWidth(Start, 82);
}

void VariableTable::addRow(const QString& element, MatchField field)
{
    const int row = rowCount();
    insertRow(row);
    setText(*this, row, Element, element);
    QComboBox* fields = combo(*this, row, Field, "cbField");
    for (MatchField f : allFields())
        fields->addItem(fieldName(f), static_cast<int>(f));
    selectData(*this, row, Field, static_cast<int>(field));
    connect(fields, &QComboBox::currentIndexChanged, this, &VariableTable::rowEdited);
    for (int c : {Min, Max, Step})
        setText(*this, row, c, QString());
    setText(*this, row, Start, QString(), false);
    setText(*this, row, Now, QString(), false);
}

MatchVariable VariableTable::variable(int row) const
{
    MatchVariable v;
    v.element = elementRef(cellText(*this, row, Element).toStdString());
    v.field = static_cast<MatchField>(comboData(*this, row, Field).toInt());
    v.min = number(*this, "variables", row, Min, -kNoBound);
    v.max = number(*this, "variables", row, Max, kNoBound);
    v.step = number(*this, "variables", row, Step, 0);
    return v;
}

std::vector<MatchVariable> VariableTable::variables() const
{
    std::vector<MatchVariable> out;
    for (int row = 0; row < rowCount(); ++row)
        out.push_back(variable(row));
    return out;
}

void VariableTable::fill(const std::vector<MatchVariable>& variables)
{
    setRowCount(0);
    for (const MatchVariable& v : variables) {
        addRow(q(refText(v.element)), v.field);
        const int row = rowCount() - 1;
        item(row, Min)->setText(numberText(v.min));
        item(row, Max)->setText(numberText(v.max));
        item(row, Step)->setText(v.step > 0 ? numberText(v.step) : QString());
    }
}

void VariableTable::showValues(const std::vector<double>& start, const std::vector<double>& now)
{
    for (int row = 0; row < rowCount() && row < static_cast<int>(now.size()); ++row)
        showValues(row, start[static_cast<std::size_t>(row)], now[static_cast<std::size_t>(row)]);
}

void VariableTable::showValues(int row, double start, double now)
{
    showValue(item(row, Start), start);
    showValue(item(row, Now), now);
}

void VariableTable::clearValues()
{
    for (int row = 0; row < rowCount(); ++row) {
        item(row, Start)->setText(QString());
        item(row, Now)->setText(QString());
    }
}

ConstraintTable::ConstraintTable(QWidget* parent) : QTableWidget(0, ColumnCount, parent)
{
    setObjectName("tbConstraints");
    setupTable(*this, {"quantity", "at", "from", "relation", "target", "weight", "start", "now", "met"});
    setColumnWidth(Quantity, 150);
    for (int c : {At, From})
        setColumnWidth(c, 42);
    setColumnWidth(Weight, 50);
    setColumnWidth(Relation, 54);
    setColumnWidth(Target, 60);
    setColumnWidth(Start, 100);
    setColumnWidth(Now, 100);
}

void ConstraintTable::addRow(MatchQuantity quantity, const QString& at, double target)
{
    const int row = rowCount();
    insertRow(row);
    QComboBox* quantities = combo(*this, row, Quantity, "cbQuantity");
    for (MatchQuantity quantityChoice : allQuantities())
        quantities->addItem(quantityName(quantityChoice), static_cast<int>(quantityChoice));
    selectData(*this, row, Quantity, static_cast<int>(quantity));
    setText(*this, row, At, at);
    setText(*this, row, From, "start");
    connect(quantities, &QComboBox::currentIndexChanged, this, [this, quantities] {
        const int r = indexAt(quantities->pos()).row();
        if (r >= 0)
            showPlaces(r);
    });
    QComboBox* relations = combo(*this, row, Relation, "cbRelation");
    for (MatchRelation r : {MatchRelation::Equal, MatchRelation::AtMost, MatchRelation::AtLeast})
        relations->addItem(relationText(r), static_cast<int>(r));
    for (QComboBox* box : {quantities, relations})
        connect(box, &QComboBox::currentIndexChanged, this, &ConstraintTable::rowEdited);
    setText(*this, row, Target, numberText(target));
    setText(*this, row, Weight, "1");
    for (int c : {Start, Now, Met})
        setText(*this, row, c, QString(), false);
    showPlaces(row);
}

void ConstraintTable::showPlaces(int row)
{
    const auto q = static_cast<MatchQuantity>(comboData(*this, row, Quantity).toInt());
    const bool at = takesPlace(q) || isPhase(q);
    for (const auto& [column, used] : {std::pair{At, at}, std::pair{From, isPhase(q)}}) {
        QTableWidgetItem* cell = item(row, column);
        if (!cell)
            continue;
        cell->setFlags(used ? cell->flags() | Qt::ItemIsEditable | Qt::ItemIsEnabled
                            : cell->flags() & ~(Qt::ItemIsEditable | Qt::ItemIsEnabled));
        if (used && cell->text().isEmpty())
            cell->setText(column == At ? "end" : "start");
    }
}

MatchConstraint ConstraintTable::constraint(int row) const
{
    MatchConstraint c;
    c.quantity = static_cast<MatchQuantity>(comboData(*this, row, Quantity).toInt());
    c.at = elementRef(cellText(*this, row, At).toStdString());
    const QString from = cellText(*this, row, From);
    c.from = from.isEmpty() ? ElementRef{ElementRef::Kind::Start, "", 0} : elementRef(from.toStdString());
    c.relation = static_cast<MatchRelation>(comboData(*this, row, Relation).toInt());
    if (cellText(*this, row, Target).isEmpty())
        throw ConversionError("constraints, row " + std::to_string(row + 1) + ", target: a target is needed");
    c.value = number(*this, "constraints", row, Target, 0);
    c.weight = number(*this, "constraints", row, Weight, 1);
    return c;
}

std::vector<MatchConstraint> ConstraintTable::constraints() const
{
    std::vector<MatchConstraint> out;
    for (int row = 0; row < rowCount(); ++row)
        out.push_back(constraint(row));
    return out;
}

void ConstraintTable::fill(const std::vector<MatchConstraint>& constraints)
{
    setRowCount(0);
    for (const MatchConstraint& c : constraints) {
        addRow(c.quantity, q(refText(c.at)), c.value);
        const int row = rowCount() - 1;
        item(row, From)->setText(q(refText(c.from)));
        selectData(*this, row, Relation, static_cast<int>(c.relation));
        item(row, Weight)->setText(numberText(c.weight));
    }
}

void ConstraintTable::showOutcome(const std::vector<ConstraintOutcome>& outcome)
{
    for (int row = 0; row < rowCount() && row < static_cast<int>(outcome.size()); ++row)
        showOutcome(row, outcome[static_cast<std::size_t>(row)]);
}

void ConstraintTable::showOutcome(int row, const ConstraintOutcome& o)
{
    showValue(item(row, Start), o.start);
    showValue(item(row, Now), o.final);
    item(row, Met)->setText(o.met ? "yes" : "no");
    item(row, Met)->setForeground(o.met ? kMetColour : kUnmetColour);
}

void ConstraintTable::clearValues()
{
    for (int row = 0; row < rowCount(); ++row)
        for (int c : {Start, Now, Met})
            item(row, c)->setText(QString());
}

} // namespace kestrune
