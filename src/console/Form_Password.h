#pragma once

#include <array>

#include <QDialog>
#include <QString>

class QPushButton;
namespace Ui {
class Form_Password;
}

// Asks the operator for the LIMS password. Created for one login attempt; the caller
// reads `password` once the dialog is hidden and then deletes it.
class Form_Password : public QDialog
{
    Q_OBJECT

public:
    explicit Form_Password(QWidget *parent = nullptr);
    ~Form_Password() override;

    // The answer: the typed text on Ok, empty on Cancel, Escape or the window frame.
    QString password;

    void Form_Load();
    void cmd_bttn_Click(int index);

    Ui::Form_Password *ui = nullptr;
    std::array<QPushButton *, 2> cmd_bttn{};

protected:
    void showEvent(QShowEvent *event) override;

private:
    bool m_loaded = false;
};
