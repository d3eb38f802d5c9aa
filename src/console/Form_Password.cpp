#include "console/Form_Password.h"

#include <QPushButton>

#include "ui_Form_Password.h"

Form_Password::Form_Password(QWidget *parent)
    : QDialog(parent)
    , ui(new Ui::Form_Password)
{
    ui->setupUi(this);
    setFixedSize(size());
    cmd_bttn = {ui->cmd_bttn_0, ui->cmd_bttn_1};
    for (int i = 0; i < int(cmd_bttn.size()); ++i)
        connect(cmd_bttn[size_t(i)], &QPushButton::clicked, this, [this, i] { cmd_bttn_Click(i); });
}

Form_Password::~Form_Password()
{
    delete ui;
}

void Form_Password::showEvent(QShowEvent *event)
{
    // The dialog loads when it is first shown, as the caller's calling order expects.
    if (!m_loaded) {
        m_loaded = true;
        Form_Load();
    }
    QDialog::showEvent(event);
}

void Form_Password::Form_Load()
{
    setWindowTitle(QStringLiteral("Distribution Access Security"));
    password.clear();
}

void Form_Password::cmd_bttn_Click(int index)
{
    if (index == 0) {
        password = ui->txt_password->text();
        accept();
    } else {
        password.clear();
        reject();
    }
}
