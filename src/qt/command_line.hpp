#pragma once

// bexo-qt's command line: Qt's own options, which QApplication takes,
// "--help" and "--version", and the one plugin-or-state argument.

#include <QByteArray>

/// Answer "--help" and "--version" (or "-h", "-V") wherever they stand
/// before a "--", on the standard output stream and without a display, so
/// that they work on a console.  Returns whether one was answered.
bool answerInformationRequest(int argc, char** argv);

/// Read the arguments that QApplication left, with `argument` set to the
/// plugin-or-state argument ("" when there is none).  Everything after it
/// is ignored; "--" ends the options, so that a path starting with "-" can
/// follow.  Returns false, with the reason in `error`, for an option that
/// neither Qt nor bexo-qt knows.
bool readCommandLine(QByteArray* argument, QByteArray* error);
