#include "gui/editor/ElementPanel.h"

#include <QButtonGroup>
#include <QComboBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QMouseEvent>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalBlocker>
#include <QStyle>
#include <QTableWidget>
#include <QVBoxLayout>
#include <algorithm>

namespace kestrune {

namespace {

constexpr int kLabelWidth = 215;
constexpr int kValueWidth = 95;
constexpr int kRowHeight = 21;
// rows the grid shows at once; a kind with more (a thin multipole's orders) scrolls
constexpr int kShownRows = 14;

QPushButton* makeButton(const QString& name, const QString& text, const QString& hint, QWidget* parent)
{
    auto* button = new QPushButton(text, parent);
    button->setObjectName(name);
    if (!hint.isEmpty())
        button->setToolTip(hint);
    return button;
}

} // namespace

ElementPanel::ElementPanel(State& state, Messages& messages, QWidget* parent)
    : QFrame(parent), m_state(state), m_messages(messages)
{
    setObjectName("pnEdMag");
    setFrameShape(QFrame::Panel);
    setFrameShadow(QFrame::Raised);
    setAutoFillBackground(true);
    buildWidgets();
    hide();
}

void ElementPanel::buildWidgets()
{
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(6, 6, 6, 6);
    layout->setSpacing(4);

    m_title = new QLabel("edit beam line element:", this);
    m_title->setObjectName("lEditTitle");
    QFont titleFont = m_title->font();
    titleFont.setBold(true);
    m_title->setFont(titleFont);
    layout->addWidget(m_title);

    m_typePanel = new QFrame(this);
    m_typePanel->setObjectName("pnMType");
    m_typePanel->setFrameShape(QFrame::StyledPanel);
    auto* typeLayout = new QHBoxLayout(m_typePanel);
    typeLayout->setContentsMargins(4, 2, 4, 2);
    auto* typeGroup = new QButtonGroup(this);
    const char* windowCaptions[3] = {"1st half alpha-magnet", "2nd half alpha-magnet", "full alpha-magnet"};
    for (int i = 0; i < 3; ++i) {
        m_type[i] = new QRadioButton(windowCaptions[i], m_typePanel);
        m_type[i]->setObjectName(QString("rbMType%1").arg(i + 1));
        typeGroup->addButton(m_type[i], i + 1);
        typeLayout->addWidget(m_type[i]);
        connect(m_type[i], &QRadioButton::clicked, this, &ElementPanel::rbMTypeClick);
    }
    m_type[0]->setChecked(true);
    layout->addWidget(m_typePanel);

    m_grid = new QTableWidget(ParameterGrid::kRows, ParameterGrid::kColumns, this);
    m_grid->setObjectName("MagPar");
    m_grid->horizontalHeader()->hide();
    m_grid->verticalHeader()->hide();
    m_grid->setEditTriggers(QAbstractItemView::DoubleClicked | QAbstractItemView::SelectedClicked |
                            QAbstractItemView::EditKeyPressed | QAbstractItemView::AnyKeyPressed);
    m_grid->setSelectionMode(QAbstractItemView::SingleSelection);
    m_grid->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    m_grid->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    for (int column = 0; column < ParameterGrid::kColumns; ++column)
        for (int row = 0; row < ParameterGrid::kRows; ++row) {
            auto* item = new QTableWidgetItem;
            if (column == 0)
                item->setFlags(item->flags() & ~Qt::ItemIsEditable);
            m_grid->setItem(row, column, item);
        }
    // the last row and column 3 belong to the grid but never hold anything
    m_grid->setRowHidden(ParameterGrid::kRows - 1, true);
    m_grid->setColumnHidden(ParameterGrid::kColumns - 1, true);
    m_grid->setColumnWidth(0, kLabelWidth);
    m_grid->setColumnWidth(1, kValueWidth);
    m_grid->setColumnWidth(2, kValueWidth);
    for (int row = 0; row < ParameterGrid::kRows; ++row)
        m_grid->setRowHeight(row, kRowHeight);
    m_grid->setFixedSize(kLabelWidth + 2 * kValueWidth + 2 * m_grid->frameWidth(),
                         kShownRows * kRowHeight + 2 * m_grid->frameWidth());
    layout->addWidget(m_grid);

    m_units = new QComboBox(this);
    m_units->setObjectName("cbUnits");
    m_units->addItems({"radian", "degrees"});
    m_units->setCurrentIndex(0);
    connect(m_units, &QComboBox::currentIndexChanged, this, &ElementPanel::cbUnitsChange);
    layout->addWidget(m_units, 0, Qt::AlignLeft);

    auto* buttons = new QGridLayout;
    auto* accept =
        makeButton("bbAccept", "accept data       ", "you must \"accept\" you parameter selection", this);
    accept->setDefault(true);
    auto* cancel = makeButton("btCancelEdit", "cancel", "cancel editing", this);
    auto* previous = makeButton("btPrev", "previous element", "", this);
    auto* next = makeButton("btNext", "next element", "", this);
    auto* remove = makeButton("btDelete", "delete element", "delete this element", this);
    auto* insert = makeButton("btInsertElement", "insert element", "", this);
    m_scroll = makeButton("btScroll", "vary/scroll quad strength", "scroll quad strength", this);
    buttons->addWidget(accept, 0, 0);
    buttons->addWidget(cancel, 0, 1);
    buttons->addWidget(previous, 1, 0);
    buttons->addWidget(next, 1, 1);
    buttons->addWidget(remove, 2, 0);
    buttons->addWidget(insert, 2, 1);
    buttons->addWidget(m_scroll, 3, 0, 1, 2);
    layout->addLayout(buttons);

    connect(accept, &QPushButton::clicked, this, &ElementPanel::bbAcceptClick);
    connect(cancel, &QPushButton::clicked, this, &ElementPanel::bbCancelClick);
    connect(previous, &QPushButton::clicked, this, &ElementPanel::previousRequested);
    connect(next, &QPushButton::clicked, this, &ElementPanel::nextRequested);
    connect(remove, &QPushButton::clicked, this, &ElementPanel::deleteRequested);
    connect(insert, &QPushButton::clicked, this, &ElementPanel::insertRequested);
    connect(m_scroll, &QPushButton::clicked, this, &ElementPanel::tuneRequested);

    // the panel keeps one size for every kind of element, so that its buttons stay where they are
    // while the user steps through the line: hidden controls keep their room, and the size is taken
    // with every control shown and the widest captions (those of the alpha magnet) in place
    for (QWidget* w :
         {static_cast<QWidget*>(m_scroll), static_cast<QWidget*>(m_units), static_cast<QWidget*>(m_type[0]),
          static_cast<QWidget*>(m_type[1]), static_cast<QWidget*>(m_type[2])}) {
        QSizePolicy policy = w->sizePolicy();
        policy.setRetainSizeWhenHidden(true);
        w->setSizePolicy(policy);
    }
    const char* widest[3] = {"1st half alpha-Magnet", "2nd half alpha-Magnet", "full alpha-Magnet"};
    for (int i = 0; i < 3; ++i)
        m_type[i]->setText(widest[i]);
    layout->activate();
    // the grid takes the panel's width, its unit column the room the captions leave
    const QMargins margins = layout->contentsMargins();
    const int inner = sizeHint().width() - margins.left() - margins.right();
    m_grid->setFixedWidth(inner);
    m_grid->setColumnWidth(2, inner - 2 * m_grid->frameWidth() - kLabelWidth - kValueWidth -
                                  m_grid->style()->pixelMetric(QStyle::PM_ScrollBarExtent));
    layout->activate();
    setFixedSize(sizeHint());
    for (int i = 0; i < 3; ++i)
        m_type[i]->setText(windowCaptions[i]);
    m_scroll->hide();
    m_units->hide();
}

void ElementPanel::showParameter(int element, bool copyUnderWay)
{
    m_element = element;
    showView(kestrune::showParameter(m_state, element, m_settings));
    if (!copyUnderWay) {
        show();
        raise();
    }
}

void ElementPanel::roundTrip(int element)
{
    m_element = element;
    showView(roundTripPanel(m_state, element, m_settings));
}

void ElementPanel::getData()
{
    kestrune::getData(m_state, m_element, grid(), m_settings);
}

void ElementPanel::resetAngleUnit()
{
    const PanelSettings start;
    m_settings.anglesInRadians = start.anglesInRadians;
    m_settings.angleFactor = start.angleFactor;
}

ParameterGrid ElementPanel::grid() const
{
    ParameterGrid cells;
    for (int column = 0; column < ParameterGrid::kColumns; ++column)
        for (int row = 0; row < ParameterGrid::kRows; ++row)
            cells.cell(column, row) = m_grid->item(row, column)->text().toStdString();
    return cells;
}

void ElementPanel::showGrid(const ParameterGrid& cells)
{
    for (int column = 0; column < ParameterGrid::kColumns; ++column)
        for (int row = 0; row < ParameterGrid::kRows; ++row)
            m_grid->item(row, column)->setText(QString::fromStdString(cells.cell(column, row)));
    // the rows a kind does not use are not shown, so that its aperture follows its own rows
    for (int row = 0; row < ParameterGrid::kRows - 1; ++row)
        m_grid->setRowHidden(row, cells.cell(0, row).empty());
}

void ElementPanel::showView(const PanelView& view)
{
    showGrid(view.grid);
    // the buttons follow the record without running their handler again
    QButtonGroup* group = m_type[0]->group();
    const QSignalBlocker blockGroup(group);
    group->setExclusive(false);
    for (int i = 0; i < 3; ++i) {
        const QSignalBlocker block(m_type[i]);
        m_type[i]->setText(QString::fromStdString(view.typeButtonCaption[static_cast<std::size_t>(i)]));
        m_type[i]->setVisible(view.typeButtonVisible[static_cast<std::size_t>(i)]);
        m_type[i]->setChecked(view.checkedButton == i + 1);
    }
    group->setExclusive(true);
    m_typePanel->show();
    m_scroll->setVisible(view.scrollVisible);
    m_units->setVisible(view.unitsVisible);
    const QSignalBlocker blockUnits(m_units);
    m_units->setCurrentIndex(m_settings.unitsBoxDegrees ? 1 : 0);
    m_typePanel->layout()->activate();
    layout()->activate();
}

int ElementPanel::checkedType() const
{
    for (int i = 0; i < 3; ++i)
        if (m_type[i]->isChecked())
            return i + 1;
    return 0;
}

void ElementPanel::rbMTypeClick()
{
    if (m_element < 1)
        return;
    emit aboutToStore();
    showView(kestrune::rbMTypeClick(m_state, m_element, checkedType(), m_settings));
    emit typeApplied();
}

void ElementPanel::cbUnitsChange()
{
    ParameterGrid cells = grid();
    kestrune::cbUnitsChange(m_state, m_element, m_units->currentIndex() == 1, m_settings, cells);
    showGrid(cells);
}

void ElementPanel::bbAcceptClick()
{
    emit aboutToStore();
    if (acceptData(m_state, m_element, grid(), m_settings, m_messages))
        emit accepted();
}

void ElementPanel::bbCancelClick()
{
    hide();
    emit cancelled();
}

void ElementPanel::mousePressEvent(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton || !parentWidget()) {
        QFrame::mousePressEvent(event);
        return;
    }
    m_dragging = true;
    m_dragOffset = event->position().toPoint();
    raise();
    event->accept();
}

void ElementPanel::mouseMoveEvent(QMouseEvent* event)
{
    if (!m_dragging) {
        QFrame::mouseMoveEvent(event);
        return;
    }
    const QRect area = parentWidget()->rect();
    const QPoint wanted = mapToParent(event->position().toPoint()) - m_dragOffset;
    // keep the panel inside its parent so it cannot be dragged out of reach
    const int x = std::clamp(wanted.x(), 0, std::max(0, area.width() - width()));
    const int y = std::clamp(wanted.y(), 0, std::max(0, area.height() - height()));
    move(x, y);
    event->accept();
}

void ElementPanel::mouseReleaseEvent(QMouseEvent* event)
{
    m_dragging = false;
    QFrame::mouseReleaseEvent(event);
}

} // namespace kestrune
