#include "widgets/tab_order.h"

#include <QAbstractScrollArea>
#include <QGridLayout>
#include <QLayout>
#include <QScrollArea>
#include <QTabBar>
#include <QTabWidget>
#include <QWidget>
#include <algorithm>
#include <tuple>
#include <vector>

namespace widgets {

namespace {

void collectWidget(QWidget& widget, QList<QWidget*>& order);

// A grid keeps its items in the order they were added; the eye reads them row by row.
std::vector<QLayoutItem*> itemsInReadingOrder(QLayout& layout) {
    std::vector<std::tuple<int, int, QLayoutItem*>> placed;
    auto* grid = qobject_cast<QGridLayout*>(&layout);
    for (int index = 0; index < layout.count(); ++index) {
        int row = 0;
        int column = index;
        if (grid) {
            int rowSpan = 0;
            int columnSpan = 0;
            grid->getItemPosition(index, &row, &column, &rowSpan, &columnSpan);
        }
        placed.emplace_back(row, column, layout.itemAt(index));
    }
    std::stable_sort(placed.begin(), placed.end(), [](const auto& a, const auto& b) {
        return std::tie(std::get<0>(a), std::get<1>(a)) < std::tie(std::get<0>(b), std::get<1>(b));
    });
    std::vector<QLayoutItem*> items;
    for (const auto& item : placed) items.push_back(std::get<2>(item));
    return items;
}

void collectLayout(QLayout& layout, QList<QWidget*>& order) {
    for (QLayoutItem* item : itemsInReadingOrder(layout)) {
        if (QWidget* widget = item->widget())
            collectWidget(*widget, order);
        else if (QLayout* inner = item->layout())
            collectLayout(*inner, order);
    }
}

void collectWidget(QWidget& widget, QList<QWidget*>& order) {
    if (widget.focusPolicy() & Qt::TabFocus) order << &widget;
    if (auto* pages = qobject_cast<QTabWidget*>(&widget)) {
        collectWidget(*pages->tabBar(), order);
        for (int index = 0; index < pages->count(); ++index)
            collectWidget(*pages->widget(index), order);
    } else if (auto* scroller = qobject_cast<QScrollArea*>(&widget)) {
        if (scroller->widget()) collectWidget(*scroller->widget(), order);
    } else if (!qobject_cast<QAbstractScrollArea*>(&widget) && widget.layout()) {
        collectLayout(*widget.layout(), order);
    }
}

}  // namespace

QList<QWidget*> orderTabsByLayout(QWidget& root) {
    QList<QWidget*> order;
    collectWidget(root, order);
    for (qsizetype index = 1; index < order.size(); ++index)
        QWidget::setTabOrder(order[index - 1], order[index]);
    return order;
}

}  // namespace widgets
