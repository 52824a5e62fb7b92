// The simulator's command line: which terminal it plays, where, with which records and faults.
#pragma once

#include <string>
#include <vector>

namespace Simulator {

struct Family;

// Picks the requests a fault applies to: a command ("G"), optionally one record index ("G:7")
// or clock item ("IS:DATE"); "all" (kept as "*") picks every request.
struct Selector {
  std::string command;
  std::string argument;  // empty: any
};

struct Fault {
  Selector selector;
  std::string value;  // error code, or reply text as given (unescaped and split where it is sent)
};

struct Options {
  const Family* family = nullptr;  // the one MODEL names
  std::string modelName;
  int port = 1001;
  std::string link;
  long connections = -1;  // -1: until killed
  bool parallel = false;  // TCP: further connections are accepted while some are open
  std::string recordsFile;
  long generate = -1;
  std::string receivedFile;
  bool verbose = false;

  std::vector<Selector> silent;
  std::vector<Fault> errors;
  std::vector<Fault> replies;
  std::vector<Selector> garbage;
  std::vector<Selector> noEnd;
  bool countGiven = false;
  std::string count;
  long long closeAfter = -1;
  long long hangupAfter = -1;  // -1: never; else the line goes silent after this many reply bytes
  std::vector<long> split;
  int pauseMs = 50;
  int dripMs = -1;
  std::vector<Selector> duplicate;
  std::vector<Fault> late;     // value: milliseconds
  std::vector<Fault> punches;  // value: how many records
  bool sendAll = false;
};

// Reads the command line. On a bad or help request prints the message and usage and sets
// `exitCode` (0 for help, 2 for an error); returns false then.
bool parseOptions(int argc, char** argv, Options& options, int& exitCode);

// Reads `text` as the command line reads numbers (decimal, 0x hex, 0 octal) from `low` to `high`.
bool readNumber(const std::string& text, long long low, long long high, long long& value);

// Turns the escapes \r \n \t \\ \| \xHH into bytes; a plain '|' separates segments.
std::vector<std::string> unescapeSegments(const std::string& text);

}  // namespace Simulator
