#include "udp/IdStack.h"

#include <sys/socket.h>

#include <algorithm>
#include <utility>

#include "udp/IdException.h"
#include "udp/IdResourceStrings.h"

TIdStack* SharedStack = nullptr;

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

// A field of a dotted text is an address byte when it reads as 0..255 both
// with -1 and with 256 as the fallback for "no number".
bool IsAddressField(const std::string& field) {
  return StrToIntDef(field, -1) >= 0 && StrToIntDef(field, 256) <= 255;
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
  const TIdStackSocketHandle handle = NewSocket(AF_INET, type, protocol);
  if (handle == Id_INVALID_SOCKET) throw EIdInvalidSocket();
  return handle;
}

std::string TIdStack::ResolveAddress(const std::string& host) {
  if (TextIsSame(host, "LOCALHOST")) return "127.0.0.1";
  if (IsIPv4Text(host)) return host;
  return LookupHost(host);
}

bool TIdStack::IsIPv4Text(const std::string& text) {
  std::string rest = text;
  for (int i = 0; i < 3; ++i) {
    if (!IsAddressField(Fetch(rest))) return false;
  }
  // The fourth field is all that remains, further dots included.
  return IsAddressField(rest);
}

TIdIPv4Bytes TIdStack::ParseIPv4(const std::string& text) {
  std::string rest = text;
  TIdIPv4Bytes address{};
  for (uint8_t& byte : address)
    byte = static_cast<uint8_t>(StrToInt(Fetch(rest)) & 0xFF);
  return address;
}

std::string TIdStack::FormatIPv4(const TIdIPv4Bytes& address) {
  return Format("%d.%d.%d.%d", address[0], address[1], address[2], address[3]);
}
