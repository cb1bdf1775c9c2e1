#pragma once

#include <QString>
#include <QStringList>

namespace quorvel::app {

// What the command line asks for, decided before any of Qt starts.
struct CommandLine
{
    enum class Mode {
        Windows,  // open `files` (none: an untitled window)
        Export,   // --export format input output
        SelfTest, // --selftest file
        Help,
        Version,
        Invalid, // `error` says why; the usage follows it
    };

    Mode mode = Mode::Windows;
    QStringList files;
    QString format, input, output; // Export
    QString selfTestFile;          // SelfTest
    QString error;                 // Invalid

    // `args` without the program. "--selftest FILE" wins over "--export", wherever each is;
    // a flag short of its arguments is a usage error, never a run that waits for nothing.
    // Everything after "--" is a file, whatever it looks like.
    static CommandLine parse(const QStringList &args);
    static const char *usage();
};

} // namespace quorvel::app
