// The title bar's menu button: a push button that pops up its own menu
// right below itself.
#pragma once

#include <QPushButton>

class QMenu;

class QMenuButton : public QPushButton
{
    Q_OBJECT
public:
    explicit QMenuButton(QWidget *parent = nullptr);

    // The popup menu, for the owner to fill.
    QMenu *menu() const { return m_menu; }

public slots:
    // Shows the menu modally with its top-left corner at the button's
    // bottom-left corner; returns when it closes.
    void popupmenu();

private:
    QMenu *m_menu;
};
