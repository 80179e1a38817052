#pragma once

#include <QString>

// The program's version, from the build ("3.0.0.4").
QString ProgramVersion();
