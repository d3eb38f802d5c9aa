#pragma once

#include <QString>

class QWidget;

// Modal message boxes with an OK button only and the application's title.
class MessageBoxes
{
public:
    virtual ~MessageBoxes() = default;
    // Returns when the operator has acknowledged the message.
    virtual void show(const QString &text) = 0;
};

class QtMessageBoxes : public MessageBoxes
{
public:
    void setOwner(QWidget *owner) { m_owner = owner; }
    void show(const QString &text) override;

private:
    QWidget *m_owner = nullptr;
};
