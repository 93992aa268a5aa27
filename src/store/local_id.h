#pragma once

#include <QString>

// A fresh record id: a random UUID as 36 upper-case hexadecimal characters with hyphens.
QString newLocalID();
