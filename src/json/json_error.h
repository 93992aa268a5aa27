#pragma once

#include <QString>

#include <stdexcept>

// Thrown when JSON text is malformed or does not match the type being read.
class DecodeError : public std::runtime_error
{
public:
    explicit DecodeError(const QString &what) : std::runtime_error(what.toStdString()) {}
    QString message() const { return QString::fromStdString(what()); }
};

// Thrown when a value cannot be written as JSON (NaN or infinity).
class EncodeError : public std::runtime_error
{
public:
    explicit EncodeError(const QString &what) : std::runtime_error(what.toStdString()) {}
    QString message() const { return QString::fromStdString(what()); }
};
