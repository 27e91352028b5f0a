#include "udp/IdStack.h"

#include <algorithm>
#include <mutex>
#include <stdexcept>
#include <utility>

#include "udp/IdException.h"
#include "udp/IdResourceStrings.h"

namespace {

// Texts of the socket error codes; a code not listed has the empty text.
constexpr std::pair<int, const char*> kErrorTexts[] = {
    {10004, RSStackEINTR},           {10009, RSStackEBADF},        {10013, RSStackEACCES},
    {10014, RSStackEFAULT},          {10022, RSStackEINVAL},       {10024, RSStackEMFILE},
    {10035, RSStackEWOULDBLOCK},     {10036, RSStackEINPROGRESS},  {10037, RSStackEALREADY},
    {10038, RSStackENOTSOCK},        {10039, RSStackEDESTADDRREQ}, {10040, RSStackEMSGSIZE},
    {10041, RSStackEPROTOTYPE},      {10042, RSStackENOPROTOOPT},  {10043, RSStackEPROTONOSUPPORT},
    {10044, RSStackESOCKTNOSUPPORT}, {10045, RSStackEOPNOTSUPP},   {10046, RSStackEPFNOSUPPORT},
    {10047, RSStackEAFNOSUPPORT},    {10048, RSStackEADDRINUSE},   {10049, RSStackEADDRNOTAVAIL},
    {10050, RSStackENETDOWN},        {10051, RSStackENETUNREACH},  {10052, RSStackENETRESET},
    {10053, RSStackECONNABORTED},    {10054, RSStackECONNRESET},   {10055, RSStackENOBUFS},
    {10056, RSStackEISCONN},         {10057, RSStackENOTCONN},     {10058, RSStackESHUTDOWN},
    {10059, RSStackETOOMANYREFS},    {10060, RSStackETIMEDOUT},    {10061, RSStackECONNREFUSED},
    {10062, RSStackELOOP},           {10063, RSStackENAMETOOLONG}, {10064, RSStackEHOSTDOWN},
    {10065, RSStackEHOSTUNREACH},    {10066, RSStackENOTEMPTY},
};

const char* TableText(int code) {
  for (const auto& [known, text] : kErrorTexts) {
    if (known == code) return text;
  }
  return "";
}

// Guards the making of the shared stack against a second thread making its
// own at the same time; letting go needs no lock, the count does that.
std::mutex& SharedStackLock() {
  static std::mutex lock;
  return lock;
}

// Observes without owning, so that the last holder's release frees the stack.
std::weak_ptr<TIdStack>& SharedStackSlot() {
  static std::weak_ptr<TIdStack> slot;
  return slot;
}

}  // namespace

std::string TIdStack::FormatSocketError(int code, const char* text) {
  return Format(RSStackError, code, text);
}

std::string TIdStack::SocketErrorText(int code) {
  return FormatSocketError(code, TableText(code));
}

bool TIdStack::CheckSocketResult(int result, std::initializer_list<int> tolerated) {
  if (result != Id_SOCKET_ERROR) return false;
  // Read into a local first: another thread may store its own code meanwhile,
  // and the exception must carry the code of this call.
  const int code = LastSocketError();
  LastErrorCode_ = code;
  if (std::find(tolerated.begin(), tolerated.end(), code) != tolerated.end()) return true;
  RaiseSocketFailure(code);
}

void TIdStack::RaiseSocketFailure(int code) {
  throw EIdSocketError(code, SocketErrorText(code));
}

void TIdStack::RaiseFailureCode(int code) {
  LastErrorCode_ = code;
  RaiseSocketFailure(code);
}

TIdStackSocketHandle TIdStack::CreateSocket(int type, int protocol) {
  const TIdStackSocketHandle handle = NewSocket(Id_AF_INET, type, protocol);
  if (handle == Id_INVALID_SOCKET) throw EIdInvalidSocket();
  return handle;
}

std::string TIdStack::ResolveAddress(const std::string& host) {
  if (common::IsLocalhostName(host)) return "127.0.0.1";
  if (common::ParseIPv4(host)) return host;
  return LookupHost(host);
}

common::TIPv4Bytes TIdStack::AddressBytes(const std::string& ip) {
  const std::optional<common::TIPv4Bytes> bytes = common::ParseIPv4(ip);
  if (!bytes) throw std::invalid_argument("'" + ip + "' is not an IPv4 address");
  return *bytes;
}

std::shared_ptr<TIdStack> SharedStack() {
  std::lock_guard lock(SharedStackLock());
  std::shared_ptr<TIdStack> stack = SharedStackSlot().lock();
  if (!stack) {
    // A stack still being freed by its last holder may coexist with this
    // one for a moment; stacks share no state, so that is harmless.
    stack = NewStack();
    SharedStackSlot() = stack;
  }
  return stack;
}

int StackUserCount() {
  std::lock_guard lock(SharedStackLock());
  return static_cast<int>(SharedStackSlot().use_count());
}
