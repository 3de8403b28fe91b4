// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>
#include <QStringList>

// What the command line asks for. A non-zero resolution asks for one scan without the
// wizard; the other fields only matter for that scan.
struct CommandLineOptions
{
    int resolution = 0;
    int mode = 0;
    bool adf = false;
    QString ext = QStringLiteral("bmp");
    QString path = defaultPath();
    QString fname = QStringLiteral("quillora");

    // The folder a command-line scan writes to when none is given: the user's home.
    static QString defaultPath();
};

// How a run from the command line ends, for scripts to tell outcomes apart.
enum ExitCode {
    ExitWritten = 0,     // every page was written (or --help, --version, --list-devices)
    ExitFailure = 1,     // the wizard could not start (no display)
    ExitUsage = 2,       // the command line cannot be carried out as written
    ExitScanner = 3,     // no scanner, or the scanner failed
    ExitFile = 4,        // a page file could not be written
    ExitInterrupted = 130, // stopped by SIGINT or SIGTERM
};

// Options of our own for scripts, all spelt "--name" or "--name=value", recognised before the
// six options above.
struct ScriptOptions
{
    bool help = false;
    bool version = false;
    bool listDevices = false;
    bool batch = false;
    bool progress = false;
    QString device; // a SANE device name or a product name; empty: the usual choice
    QString output; // the exact file to write; empty: the naming rule
    // Why the command line cannot be carried out as written (each a sentence); empty when it
    // can. Any of them makes the program end with the usage exit code.
    QStringList usageErrors;
};

// Both kinds of option of one command line.
struct ParsedCommandLine
{
    CommandLineOptions options;
    ScriptOptions script;

    // True when this run scans from the command line or answers a "--" option: nothing
    // then needs a display.
    bool needsNoWindow() const;
};

// Splits a whole command line into its parameters, the program's path (parameter 0)
// included: blanks and control characters separate, double quotes group and are dropped.
QStringList splitCommandLine(const QString& commandLine);

// Reads parameters 1..n (the program's path is not among them) into the options.
// Unknown parameters and values that do not convert are ignored; options of our own
// ("--help", "--output=...") are left to parseFullCommandLine and never read as one of
// the six.
CommandLineOptions parseCommandLine(const QStringList& parameters);
ParsedCommandLine parseFullCommandLine(const QStringList& parameters);

// The options of this process: the shell has already split the arguments, so each
// argument after the program's path only loses its double quotes.
CommandLineOptions commandLineFromArguments(const QStringList& argv);
ParsedCommandLine fullCommandLineFromArguments(const QStringList& argv);

// The text "--help" prints: both kinds of option and the exit codes.
QString usageText(const QString& programName);
