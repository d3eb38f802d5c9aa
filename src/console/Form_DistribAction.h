#pragma once

#include <array>

#include <QDialog>
#include <QString>

class QPushButton;
class QRadioButton;
namespace Ui {
class Form_DistribAction;
}

// Asks what to do with one client's reports when the operator dispatches a row by hand.
// The caller sets `sClient` before showing it and reads `sAction` once it is hidden:
// "PRINT", "HOLD", "DELETE", or empty when nothing is to be done.
class Form_DistribAction : public QDialog
{
    Q_OBJECT

public:
    explicit Form_DistribAction(QWidget *parent = nullptr);
    ~Form_DistribAction() override;

    QString sClient;
    QString sAction;

    void Form_Load();
    void cmd_Action_Click(int index);

    Ui::Form_DistribAction *ui = nullptr;
    std::array<QRadioButton *, 3> opt_Action{};
    std::array<QPushButton *, 2> cmd_Action{};

protected:
    void showEvent(QShowEvent *event) override;

private:
    bool m_loaded = false;
};
