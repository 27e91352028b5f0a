#pragma once

#include <chrono>
#include <string>

// A pseudo-terminal pair standing in for a serial line: the port under test
// opens the slave by its path; the test plays the device on the master.
class TPtyPair {
 public:
  TPtyPair();
  ~TPtyPair();
  TPtyPair(const TPtyPair&) = delete;
  TPtyPair& operator=(const TPtyPair&) = delete;

  const std::string& SlavePath() const { return Path; }
  int MasterFd() const { return Master; }

  // The device's side: blocking write of everything.
  void Write(const std::string& bytes);
  // Reads exactly count bytes or what came within the time limit.
  std::string Read(size_t count, std::chrono::milliseconds limit = std::chrono::seconds(3));
  // Hangs up the line as an unplugged device would.
  void HangUp();

 private:
  int Master = -1;
  int Slave = -1;  // kept open so that the line lives between the port's opens
  std::string Path;
};
