// Parsing the command line with QCommandLineParser; the help text is our own, so that it reads
// the same whatever name the program was started under.
#include "app/command_line.h"

#include <QCommandLineParser>

#include "settings/build_info.h"

namespace sombrix {
namespace {

struct Action {
    const char* name;
    InstanceRequest request;
    const char* help;
};

constexpr Action kActions[] = {
    {"toggle", InstanceRequest::Toggle, "Switch the dim on when it is off, off when it is on."},
    {"enable", InstanceRequest::Enable, "Switch the dim on."},
    {"disable", InstanceRequest::Disable, "Switch the dim off."},
    {"settings", InstanceRequest::OpenSettings, "Open the settings window (the default)."},
    {"quit", InstanceRequest::Quit, "Quit the running Sombrix."},
};

QString helpText() {
    QString text = QStringLiteral(
        "Usage: sombrix [OPTION]\n"
        "Dim everything on the screens except the window you are working in.\n\n"
        "Without an option, starts Sombrix, or opens the settings window of the one already\n"
        "running on this display. An action goes to the running Sombrix; when none runs,\n"
        "--toggle, --enable, --disable and --settings start one (with that state).\n\n");
    for (const Action& action : kActions) {
        text +=
            QStringLiteral("  %1  %2\n")
                .arg((QStringLiteral("--") + QString::fromLatin1(action.name)).leftJustified(13),
                     QString::fromLatin1(action.help));
    }
    text += QStringLiteral(
        "  -h, --help     Show this help and exit.\n"
        "  -v, --version  Show the version and exit.\n");
    return text;
}

}  // namespace

QString versionLine() {
    return QStringLiteral("Sombrix %1 (%2)")
        .arg(QString::fromUtf8(buildinfo::kShortVersion),
             QString::fromUtf8(buildinfo::kBuildNumber));
}

CommandLine parseCommandLine(const QStringList& arguments) {
    QCommandLineParser parser;
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    const QCommandLineOption help({QStringLiteral("h"), QStringLiteral("help")}, {});
    const QCommandLineOption version({QStringLiteral("v"), QStringLiteral("version")}, {});
    parser.addOption(help);
    parser.addOption(version);
    for (const Action& action : kActions) {
        parser.addOption(QCommandLineOption(QString::fromLatin1(action.name), {}));
    }

    CommandLine result;
    if (!parser.parse(arguments)) {
        result.mode = CommandLine::Mode::Usage;
        result.text = parser.errorText();
        result.text.chop(result.text.endsWith(u'.') ? 1 : 0);
        return result;
    }
    if (!parser.positionalArguments().isEmpty()) {
        result.mode = CommandLine::Mode::Usage;
        result.text = QStringLiteral("Unexpected argument '%1'")
                          .arg(parser.positionalArguments().constFirst());
        return result;
    }
    if (parser.isSet(help)) {
        result.mode = CommandLine::Mode::Help;
        result.text = helpText();
        return result;
    }
    if (parser.isSet(version)) {
        result.mode = CommandLine::Mode::Version;
        result.text = versionLine();
        return result;
    }
    QStringList chosen;
    for (const Action& action : kActions) {
        if (parser.isSet(QString::fromLatin1(action.name))) {
            chosen += QStringLiteral("--") + QString::fromLatin1(action.name);
            result.request = action.request;
        }
    }
    // The same option twice is one request; two different ones cannot both be meant.
    if (chosen.size() > 1) {
        result.mode = CommandLine::Mode::Usage;
        result.request.reset();
        result.text = QStringLiteral("Choose one action, not %1").arg(chosen.join(u' '));
    }
    return result;
}

}  // namespace sombrix
