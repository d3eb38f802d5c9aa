#pragma once

#include <QString>

// Text placed inside a quoted SQL literal: single quotes doubled, so that no value from
// the operator, the database or a web page can end the literal early.
QString sqlText(const QString &value);

// A value that a statement carries unquoted as a number: whole numbers stand as they
// are; anything else becomes a quoted literal, so the statement keeps its shape.
QString sqlNumber(const QString &value);
