#include "qt/command_line.hpp"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QStringList>
#include <cstdio>
#include <cstring>

namespace {

struct Parser {
  Parser() {
    parser.setApplicationDescription(
        QStringLiteral("Run an LV2 plugin as a JACK client, with its own Qt user interface or a "
                       "panel of dials."));
    parser.setOptionsAfterPositionalArgumentsMode(QCommandLineParser::ParseAsPositionalArguments);
    parser.addOption(help);
    parser.addOption(version);
    parser.addPositionalArgument(
        QStringLiteral("PLUGIN_STATE"),
        QStringLiteral("A plugin URI, a preset URI, a state file, or a folder in which a state was "
                       "saved. Qt's own options come before it."),
        QStringLiteral("PLUGIN_STATE"));
  }

  QCommandLineParser parser;
  // Qt's own help option would offer "--help-all", whose list of Qt's GUI
  // options needs a display.
  QCommandLineOption help{{QStringLiteral("h"), QStringLiteral("help")},
                          QStringLiteral("Print this help and exit.")};
  // -V as in bexo-gtk, where -v is not taken either.
  QCommandLineOption version{{QStringLiteral("V"), QStringLiteral("version")},
                             QStringLiteral("Print the version and exit.")};
};

bool isInformationOption(const char* arg) {
  for (const char* option : {"-h", "--help", "-V", "--version"}) {
    if (std::strcmp(arg, option) == 0) {
      return true;
    }
  }
  return false;
}

} // namespace

bool answerInformationRequest(int argc, char** argv) {
  const char* request = nullptr;
  for (int i = 1; i < argc && std::strcmp(argv[i], "--") != 0 && !request; ++i) {
    request = isInformationOption(argv[i]) ? argv[i] : nullptr;
  }
  if (!request) {
    return false;
  }
  if (std::strcmp(request, "-V") == 0 || std::strcmp(request, "--version") == 0) {
    std::printf("bexo-qt %s\n", BEXO_VERSION);
    return true;
  }
  // The usage line names the program as it was started; a core
  // application needs no display.
  int coreArgc = 1;
  const QCoreApplication core(coreArgc, argv);
  const Parser p;
  std::fputs(p.parser.helpText().toLocal8Bit().constData(), stdout);
  return true;
}

bool readCommandLine(QByteArray* argument, QByteArray* error) {
  Parser p;
  if (!p.parser.parse(QCoreApplication::arguments())) {
    *error = p.parser.errorText().toLocal8Bit();
    return false;
  }
  const QStringList positional = p.parser.positionalArguments();
  *argument = positional.isEmpty() ? QByteArray() : positional.constFirst().toLocal8Bit();
  return true;
}
