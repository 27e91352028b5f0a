#pragma once

// The socket layer's own texts, English and byte for byte as callers may
// compare them. The application shows its own texts instead where it catches
// these.

// Socket error messages: the code in decimal, CR LF, then the code's text.
inline constexpr char RSStackError[] = "Socket Error # %d\r\n%s";
inline constexpr char RSStackEINTR[] = "Interrupted system call.";
inline constexpr char RSStackEBADF[] = "Bad file number.";
inline constexpr char RSStackEACCES[] = "Access denied.";
inline constexpr char RSStackEFAULT[] = "Bad address.";
inline constexpr char RSStackEINVAL[] = "Invalid argument.";
inline constexpr char RSStackEMFILE[] = "Too many open files.";
inline constexpr char RSStackEWOULDBLOCK[] = "Operation would block. ";
inline constexpr char RSStackEINPROGRESS[] = "Operation now in progress.";
inline constexpr char RSStackEALREADY[] = "Operation already in progress.";
inline constexpr char RSStackENOTSOCK[] = "Socket operation on non-socket.";
inline constexpr char RSStackEDESTADDRREQ[] = "Destination address required.";
inline constexpr char RSStackEMSGSIZE[] = "Message too long.";
inline constexpr char RSStackEPROTOTYPE[] = "Protocol wrong type for socket.";
inline constexpr char RSStackENOPROTOOPT[] = "Bad protocol option.";
inline constexpr char RSStackEPROTONOSUPPORT[] = "Protocol not supported.";
inline constexpr char RSStackESOCKTNOSUPPORT[] = "Socket type not supported.";
inline constexpr char RSStackEOPNOTSUPP[] = "Operation not supported on socket.";
inline constexpr char RSStackEPFNOSUPPORT[] = "Protocol family not supported.";
inline constexpr char RSStackEAFNOSUPPORT[] = "Address family not supported by protocol family.";
inline constexpr char RSStackEADDRINUSE[] = "Address already in use.";
inline constexpr char RSStackEADDRNOTAVAIL[] = "Cannot assign requested address.";
inline constexpr char RSStackENETDOWN[] = "Network is down.";
inline constexpr char RSStackENETUNREACH[] = "Network is unreachable.";
inline constexpr char RSStackENETRESET[] = "Net dropped connection or reset.";
inline constexpr char RSStackECONNABORTED[] = "Software caused connection abort.";
inline constexpr char RSStackECONNRESET[] = "Connection reset by peer.";
inline constexpr char RSStackENOBUFS[] = "No buffer space available.";
inline constexpr char RSStackEISCONN[] = "Socket is already connected.";
inline constexpr char RSStackENOTCONN[] = "Socket is not connected.";
inline constexpr char RSStackESHUTDOWN[] = "Cannot send or receive after socket is closed.";
inline constexpr char RSStackETOOMANYREFS[] = "Too many references, cannot splice.";
inline constexpr char RSStackETIMEDOUT[] = "Connection timed out.";
inline constexpr char RSStackECONNREFUSED[] = "Connection refused.";
inline constexpr char RSStackELOOP[] = "Too many levels of symbolic links.";
inline constexpr char RSStackENAMETOOLONG[] = "File name too long.";
inline constexpr char RSStackEHOSTDOWN[] = "Host is down.";
inline constexpr char RSStackEHOSTUNREACH[] = "No route to host.";
inline constexpr char RSStackENOTEMPTY[] = "Directory not empty";
inline constexpr char RSStackHOST_NOT_FOUND[] = "Host not found.";

// Stack and socket failures.
inline constexpr char RSCannotAllocateSocket[] = "Cannot allocate socket.";
inline constexpr char RSWinsockInitializationError[] = "Winsock Initialization Error.";
inline constexpr char RSSetSizeExceeded[] = "Set Size Exceeded.";

// Binding failures.
inline constexpr char RSPackageSizeTooBig[] = "Package Size Too Big.";
inline constexpr char RSNotAllBytesSent[] = "Not all bytes sent.";
inline constexpr char RSCouldNotBindSocket[] =
    "Could not bind socket. Address and port are already in use.";
inline constexpr char RSCannotBindRange[] = "Can not bind in port range (%d - %d)";
inline constexpr char RSInvalidPortRange[] = "Invalid Port Range (%d - %d)";

// Thread failures.
inline constexpr char RSThreadTerminateAndWaitFor[] =
    "Cannot call TerminateAndWaitFor on FreeAndTerminate threads";
