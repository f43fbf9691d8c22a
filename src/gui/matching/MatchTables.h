#pragma once

#include "core/matching/MatchProblem.h"
#include "core/matching/Matcher.h"

#include <QTableWidget>
#include <vector>

namespace kestrune {

/// The match window's table of variables: element (a name, or an index for one element alone), field,
/// lower and upper bound (empty: none), step (empty: the default), and the value at the start and now.
class VariableTable : public QTableWidget
{
    Q_OBJECT
public:
    enum Column { Element, Field, Min, Max, Step, Start, Now, ColumnCount };

    explicit VariableTable(QWidget* parent = nullptr);

    /// Appends a row for the element text (a name or an index) with field.
    void addRow(const QString& element, MatchField field = MatchField::K);
    /// The variables as typed. Throws ConversionError naming row and column for a box that is no number.
    std::vector<MatchVariable> variables() const;
    /// The variable of one row (0..), as variables() reads it.
    MatchVariable variable(int row) const;
    /// Rows for the variables of a definition (the outcome columns empty).
    void fill(const std::vector<MatchVariable>& variables);
    /// The start and current values of a match (one per row); a row beyond them stays empty.
    void showValues(const std::vector<double>& start, const std::vector<double>& now);
    void showValues(int row, double start, double now);
    /// The outcome columns empty again.
    void clearValues();

signals:
    /// A choice in a row's list (its field) changed; typed cells tell through itemChanged.
    void rowEdited();
};

/// The match window's table of constraints: quantity, place ("at": an element name, an index, "end";
/// phase advances end there), "from" (where a phase advance begins), relation, target, weight, and the
/// value at the start, now, and whether it is met.
class ConstraintTable : public QTableWidget
{
    Q_OBJECT
public:
    enum Column { Quantity, At, From, Relation, Target, Weight, Start, Now, Met, ColumnCount };

    explicit ConstraintTable(QWidget* parent = nullptr);

    void addRow(MatchQuantity quantity, const QString& at = "end", double target = 0);
    /// The constraints as typed. Throws ConversionError naming row and column for a box that is no number.
    std::vector<MatchConstraint> constraints() const;
    /// The constraint of one row (0..), as constraints() reads it.
    MatchConstraint constraint(int row) const;
    void fill(const std::vector<MatchConstraint>& constraints);
    /// The outcome of a match: start and current values, met or not (one per row).
    void showOutcome(const std::vector<ConstraintOutcome>& outcome);
    void showOutcome(int row, const ConstraintOutcome& outcome);
    void clearValues();

signals:
    /// A choice in a row's lists (quantity, relation) changed; typed cells tell through itemChanged.
    void rowEdited();

private:
    /// "at" and "from" of a row greyed where its quantity takes no place (tunes, chromaticities, the
    /// largest beta; "from" of all but phase advances).
    void showPlaces(int row);
};

} // namespace kestrune
