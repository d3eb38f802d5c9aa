#pragma once

#include <vector>

#include <QString>
#include <QStringList>

// One measured figure against its target, with notes on how it came about.
struct Figure
{
    enum class Verdict { Pass, Miss, NotMeasured };
    QString name;
    QString measured;
    QString target;
    Verdict verdict = Verdict::NotMeasured;
    QStringList notes;

    static Verdict judge(bool valid, bool met)
    {
        return !valid ? Verdict::NotMeasured : (met ? Verdict::Pass : Verdict::Miss);
    }
};

QString percentText(double percent);
QString msText(double ms);
QString mbText(double kb);
double medianOf(std::vector<double> values);
