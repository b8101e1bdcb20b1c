// Subcommands of tarvo-cli. Each one is a function in a source file of its own, listed once
// in the table of main.cpp.
//
// A subcommand gets its own arguments (argv[0] is the subcommand's name) and returns the
// process exit status: kExitOk, kExitFailure (the work failed: one "error: ..." line on stderr)
// or kExitUsage (the command line is wrong: a usage line on stderr). It runs on the main
// thread and writes only to stdout and stderr.
#pragma once

#include <string>

namespace tarvo::cli {

inline constexpr int kExitOk = 0;
inline constexpr int kExitFailure = 1;
inline constexpr int kExitUsage = 2;

// Prints "usage: tarvo-cli <usage>" on stderr and returns kExitUsage.
int UsageError(const char* usage);
// Prints "error: <message>" as one line on stderr (control characters escaped) and returns
// kExitFailure.
int Failure(const std::string& message);
// Flushes stdout and, the first time in the process that stdout could not be written (its
// reader went away), says so on stderr. The runs go on: a closed output loses no record.
void CheckOutput();
// True when `arg` asks for help ("-h", "--help").
bool IsHelp(const char* arg);

int RunConvert(int argc, char** argv);
int RunFlash(int argc, char** argv);
int RunDemo(int argc, char** argv);
int RunPorts(int argc, char** argv);
int RunDoctor(int argc, char** argv);
int RunRecords(int argc, char** argv);

}  // namespace tarvo::cli
