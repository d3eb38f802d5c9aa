#pragma once

#include <functional>

#include <QString>

class QWidget;

// Modal message boxes with an OK button only and the application's title.
class MessageBoxes
{
public:
    virtual ~MessageBoxes() = default;
    // Returns when the operator has acknowledged the message, or, while the station runs
    // unattended, when the box has closed by itself.
    virtual void show(const QString &text) = 0;
};

class QtMessageBoxes : public MessageBoxes
{
public:
    // How long a box waits for an OK while nobody may be there to give it.
    static constexpr int kUnattendedCloseSeconds = 300;

    void setOwner(QWidget *owner) { m_owner = owner; }
    // Whether the station runs unattended now (under its service manager, or a session
    // taken up after a restart); told of every message shown unattended.
    void setUnattended(std::function<bool()> unattended, std::function<void(const QString &)> shownUnattended)
    {
        m_unattended = std::move(unattended);
        m_shownUnattended = std::move(shownUnattended);
    }
    void show(const QString &text) override;

private:
    QWidget *m_owner = nullptr;
    std::function<bool()> m_unattended;
    std::function<void(const QString &)> m_shownUnattended;
};
