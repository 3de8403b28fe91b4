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

// Splits a whole command line into its parameters, the program's path (parameter 0)
// included: blanks and control characters separate, double quotes group and are dropped.
QStringList splitCommandLine(const QString& commandLine);

// Reads parameters 1..n (the program's path is not among them) into the options.
// Unknown parameters and values that do not convert are ignored.
CommandLineOptions parseCommandLine(const QStringList& parameters);

// The options of this process: the shell has already split the arguments, so each
// argument after the program's path only loses its double quotes.
CommandLineOptions commandLineFromArguments(const QStringList& argv);
