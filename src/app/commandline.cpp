#include "commandline.h"

namespace quorvel::app {

const char *CommandLine::usage()
{
    return "Usage: quorvel [FILE...]\n"
           "       quorvel --export FORMAT INPUT OUTPUT\n"
           "       quorvel --selftest FILE\n"
           "\n"
           "Opens each Markdown FILE in a window of its own, in a running Quorvel when there is\n"
           "one; with none, an untitled window. A FILE that does not exist yet is created at the\n"
           "first save.\n"
           "\n"
           "  --export FORMAT INPUT OUTPUT  write INPUT as OUTPUT without a window;\n"
           "                                FORMAT is pdf, html or md\n"
           "  --selftest FILE               check the program by typing into FILE and saving\n"
           "                                it: give it a copy, never a note you keep\n"
           "  -h, --help                    show this help and exit\n"
           "  -v, --version                 show the version and exit\n"
           "\n"
           "Without a display, --export and --selftest run on Qt's offscreen platform.\n";
}

CommandLine CommandLine::parse(const QStringList &args)
{
    CommandLine line;
    const auto invalid = [](const QString &why) {
        CommandLine bad;
        bad.mode = Mode::Invalid;
        bad.error = why;
        return bad;
    };
    const qsizetype end = args.indexOf(QStringLiteral("--"));
    const QStringList options = end < 0 ? args : args.mid(0, end);

    if (const qsizetype at = options.indexOf(QStringLiteral("--selftest")); at >= 0) {
        if (at + 1 >= options.size())
            return invalid(QStringLiteral("--selftest needs FILE"));
        line.mode = Mode::SelfTest;
        line.selfTestFile = options.at(at + 1);
        return line;
    }
    if (const qsizetype at = options.indexOf(QStringLiteral("--export")); at >= 0) {
        if (at + 3 >= options.size())
            return invalid(QStringLiteral("--export needs FORMAT INPUT OUTPUT"));
        line.mode = Mode::Export;
        line.format = options.at(at + 1);
        line.input = options.at(at + 2);
        line.output = options.at(at + 3);
        return line;
    }
    for (const QString &arg : options) {
        if (arg == u"-h" || arg == u"--help") {
            line.mode = Mode::Help;
            return line;
        }
        if (arg == u"-v" || arg == u"--version") {
            line.mode = Mode::Version;
            return line;
        }
        if (arg.size() > 1 && arg.startsWith(u'-'))
            return invalid(QStringLiteral("unknown option %1").arg(arg));
        line.files.append(arg);
    }
    if (end >= 0)
        line.files += args.mid(end + 1);
    return line;
}

} // namespace quorvel::app
