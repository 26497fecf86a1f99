#pragma once
// Small helpers for the forms built in code: named widgets, layouts with their spacing and margins,
// and the standard spacers.
#include <QBoxLayout>
#include <QGridLayout>
#include <QMargins>
#include <QSpacerItem>
#include <QWidget>

namespace appinstaller {

// A form names its widget only when the widget has no name yet.
inline void NameForm(QWidget* widget, const char* formName)
{
    if (widget->objectName().isEmpty())
        widget->setObjectName(formName);
}

template <class W>
W* MakeWidget(QWidget* parent, const char* name)
{
    W* w = new W(parent);
    w->setObjectName(name);
    return w;
}

template <class L = QGridLayout>
L* MakeLayout(QWidget* owner, const char* name, int spacing, QMargins margins)
{
    L* layout = new L(owner);
    layout->setObjectName(name);
    layout->setSpacing(spacing);
    layout->setContentsMargins(margins);
    return layout;
}

inline QGridLayout* MakeGrid(QWidget* owner, const char* name, int spacing, QMargins margins)
{
    return MakeLayout<QGridLayout>(owner, name, spacing, margins);
}

// A box nested in another layout: no margins of its own.
template <class L>
L* MakeBox(const char* name, int spacing)
{
    L* layout = new L;
    layout->setObjectName(name);
    layout->setSpacing(spacing);
    return layout;
}

inline QSpacerItem* HSpacer()
{
    return new QSpacerItem(40, 20, QSizePolicy::Expanding, QSizePolicy::Minimum);
}

inline QSpacerItem* VSpacer()
{
    return new QSpacerItem(20, 40, QSizePolicy::Minimum, QSizePolicy::Expanding);
}

// The bottom row of a page: a horizontal box (spacer, then a vertical box of a spacer over the
// button) placed at row 1 of the bottom grid, so that the button sits in the lower right corner.
inline void AddButtonRow(QGridLayout* grid, QHBoxLayout*& row, const char* rowName, QVBoxLayout*& column,
                         QWidget* button)
{
    row = MakeBox<QHBoxLayout>(rowName, 6);
    row->addItem(HSpacer());
    column = MakeBox<QVBoxLayout>("verticalLayout", 6);
    column->addItem(VSpacer());
    column->addWidget(button);
    row->addLayout(column);
    grid->addLayout(row, 1, 0);
}

}  // namespace appinstaller
