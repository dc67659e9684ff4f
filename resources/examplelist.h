#pragma once

#include <QByteArray>

namespace examplelist {

// The example host list a new user's list starts from, built into the program so that a copy
// without its data files can still start one.
QByteArray bytes();

} // namespace examplelist
