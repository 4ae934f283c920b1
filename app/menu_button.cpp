#include "app/menu_button.h"

#include <QMenu>

QMenuButton::QMenuButton(QWidget *parent) : QPushButton(parent), m_menu(new QMenu(this))
{
    connect(this, &QPushButton::clicked, this, &QMenuButton::popupmenu);
}

void QMenuButton::popupmenu()
{
    m_menu->exec(mapToGlobal(QPoint(0, height())));
}
