#include "program.hpp"

void complain(Console console, const std::string& name, const std::string& problem) {
  std::fflush(console.out);
  std::fprintf(console.err, "%s: %s\n", name.c_str(), problem.c_str());
}

std::string withReason(const std::string& problem, const std::string& reason) {
  return reason.empty() ? problem : problem + " (" + reason + ")";
}

void complainOfTransfer(Console console, Transfer transfer, const std::string& input,
                        const std::string& output, const std::string& reason) {
  if (transfer == Transfer::readFailed) {
    complain(console, input, withReason("Cannot read", reason));
  } else {
    complain(console, output, withReason("Cannot write", reason));
  }
}

std::FILE* createOutput(const std::string& path, const FileIdentity& input, Console console) {
  std::FILE* file =
      sameFile(identityOf(path.c_str()), input) ? nullptr : openFile(path.c_str(), "wb");
  if (file == nullptr) {
    complain(console, path, "Cannot create");
    return nullptr;
  }
  std::setvbuf(file, nullptr, _IONBF, 0);
  return file;
}

Transfer finishOutput(std::FILE* file, const std::string& path, Transfer transfer,
                      const std::string& input, Console console) {
  bool closed = std::fclose(file) == 0;
  if (transfer == Transfer::done && !closed) {
    transfer = Transfer::writeFailed;
  }
  if (transfer != Transfer::done) {
    removeFile(path.c_str());
    complainOfTransfer(console, transfer, input, path, ""); // lvlsnd's messages give no reason
  }
  return transfer;
}
