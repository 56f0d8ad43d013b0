#include "media/engine/error_text.h"

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iterator>

extern "C" {
#include <libavutil/error.h>
}

#include "media/engine/ffmpeg_exception.h"

namespace lumivor {
namespace {

// 210 rows: the library's tagged codes, the POSIX numbers, and the Windows-socket numbers that
// network code written for other platforms may still hand back. The POSIX texts are the C library's
// own wording (a test holds every row against strerror), so a text here reads like the one the
// system prints for the same failure elsewhere.
constexpr ErrorTextRow kErrorTexts[] = {
    {AVERROR_BSF_NOT_FOUND, "Bitstream filter not found"},
    {AVERROR_BUG, "Internal bug, should not have happened"},
    {AVERROR_BUG2, "Internal bug, should not have happened"},
    {AVERROR_BUFFER_TOO_SMALL, "Buffer too small"},
    {AVERROR_DECODER_NOT_FOUND, "Decoder not found"},
    {AVERROR_DEMUXER_NOT_FOUND, "Demuxer not found"},
    {AVERROR_ENCODER_NOT_FOUND, "Encoder not found"},
    {AVERROR_EOF, "End of file"},
    {AVERROR_EXIT, "Immediate exit requested"},
    {AVERROR_EXTERNAL, "Generic error in an external library"},
    {AVERROR_FILTER_NOT_FOUND, "Filter not found"},
    {AVERROR_INVALIDDATA, "Invalid data found when processing input"},
    {AVERROR_MUXER_NOT_FOUND, "Muxer not found"},
    {AVERROR_OPTION_NOT_FOUND, "Option not found"},
    {AVERROR_PATCHWELCOME, "Not yet implemented in FFmpeg, patches welcome"},
    {AVERROR_PROTOCOL_NOT_FOUND, "Protocol not found"},
    {AVERROR_STREAM_NOT_FOUND, "Stream not found"},
    {AVERROR_UNKNOWN, "Unknown error occurred"},
    {AVERROR_EXPERIMENTAL, "Requested feature is flagged experimental. Set strict_std_compliance if you really want to use it."},
    // POSIX error numbers 2 to 131, texts as the C library words them (41 and 58 are unassigned).
    {-ENOENT, "No such file or directory"},
    {-ESRCH, "No such process"},
    {-EINTR, "Interrupted system call"},
    {-EIO, "Input/output error"},
    {-ENXIO, "No such device or address"},
    {-E2BIG, "Argument list too long"},
    {-ENOEXEC, "Exec format error"},
    {-EBADF, "Bad file descriptor"},
    {-ECHILD, "No child processes"},
    {-EAGAIN, "Resource temporarily unavailable"},
    {-ENOMEM, "Cannot allocate memory"},
    {-EACCES, "Permission denied"},
    {-EFAULT, "Bad address"},
    {-ENOTBLK, "Block device required"},
    {-EBUSY, "Device or resource busy"},
    {-EEXIST, "File exists"},
    {-EXDEV, "Invalid cross-device link"},
    {-ENODEV, "No such device"},
    {-ENOTDIR, "Not a directory"},
    {-EISDIR, "Is a directory"},
    {-EINVAL, "Invalid argument"},
    {-ENFILE, "Too many open files in system"},
    {-EMFILE, "Too many open files"},
    {-ENOTTY, "Inappropriate ioctl for device"},
    {-ETXTBSY, "Text file busy"},
    {-EFBIG, "File too large"},
    {-ENOSPC, "No space left on device"},
    {-ESPIPE, "Illegal seek"},
    {-EROFS, "Read-only file system"},
    {-EMLINK, "Too many links"},
    {-EPIPE, "Broken pipe"},
    {-EDOM, "Numerical argument out of domain"},
    {-ERANGE, "Numerical result out of range"},
    {-EDEADLOCK, "Resource deadlock avoided"},
    {-ENAMETOOLONG, "File name too long"},
    {-ENOLCK, "No locks available"},
    {-ENOSYS, "Function not implemented"},
    {-ENOTEMPTY, "Directory not empty"},
    {-ELOOP, "Too many levels of symbolic links"},
    {-ENOMSG, "No message of desired type"},
    {-EIDRM, "Identifier removed"},
    {-ECHRNG, "Channel number out of range"},
    {-EL2NSYNC, "Level 2 not synchronized"},
    {-EL3HLT, "Level 3 halted"},
    {-EL3RST, "Level 3 reset"},
    {-ELNRNG, "Link number out of range"},
    {-EUNATCH, "Protocol driver not attached"},
    {-ENOCSI, "No CSI structure available"},
    {-EL2HLT, "Level 2 halted"},
    {-EBADE, "Invalid exchange"},
    {-EBADR, "Invalid request descriptor"},
    {-EXFULL, "Exchange full"},
    {-ENOANO, "No anode"},
    {-EBADRQC, "Invalid request code"},
    {-EBADSLT, "Invalid slot"},
    {-EBFONT, "Bad font file format"},
    {-ENOSTR, "Device not a stream"},
    {-ENODATA, "No data available"},
    {-ETIME, "Timer expired"},
    {-ENOSR, "Out of streams resources"},
    {-ENONET, "Machine is not on the network"},
    {-ENOPKG, "Package not installed"},
    {-EREMOTE, "Object is remote"},
    {-ENOLINK, "Link has been severed"},
    {-EADV, "Advertise error"},
    {-ESRMNT, "Srmount error"},
    {-ECOMM, "Communication error on send"},
    {-EPROTO, "Protocol error"},
    {-EMULTIHOP, "Multihop attempted"},
    {-EDOTDOT, "RFS specific error"},
    {-EBADMSG, "Bad message"},
    {-EOVERFLOW, "Value too large for defined data type"},
    {-ENOTUNIQ, "Name not unique on network"},
    {-EBADFD, "File descriptor in bad state"},
    {-EREMCHG, "Remote address changed"},
    {-ELIBACC, "Can not access a needed shared library"},
    {-ELIBBAD, "Accessing a corrupted shared library"},
    {-ELIBSCN, ".lib section in a.out corrupted"},
    {-ELIBMAX, "Attempting to link in too many shared libraries"},
    {-ELIBEXEC, "Cannot exec a shared library directly"},
    {-EILSEQ, "Invalid or incomplete multibyte or wide character"},
    {-ERESTART, "Interrupted system call should be restarted"},
    {-ESTRPIPE, "Streams pipe error"},
    {-EUSERS, "Too many users"},
    {-ENOTSOCK, "Socket operation on non-socket"},
    {-EDESTADDRREQ, "Destination address required"},
    {-EMSGSIZE, "Message too long"},
    {-EPROTOTYPE, "Protocol wrong type for socket"},
    {-ENOPROTOOPT, "Protocol not available"},
    {-EPROTONOSUPPORT, "Protocol not supported"},
    {-ESOCKTNOSUPPORT, "Socket type not supported"},
    {-ENOTSUP, "Operation not supported"},
    {-EPFNOSUPPORT, "Protocol family not supported"},
    {-EAFNOSUPPORT, "Address family not supported by protocol"},
    {-EADDRINUSE, "Address already in use"},
    {-EADDRNOTAVAIL, "Cannot assign requested address"},
    {-ENETDOWN, "Network is down"},
    {-ENETUNREACH, "Network is unreachable"},
    {-ENETRESET, "Network dropped connection on reset"},
    {-ECONNABORTED, "Software caused connection abort"},
    {-ECONNRESET, "Connection reset by peer"},
    {-ENOBUFS, "No buffer space available"},
    {-EISCONN, "Transport endpoint is already connected"},
    {-ENOTCONN, "Transport endpoint is not connected"},
    {-ESHUTDOWN, "Cannot send after transport endpoint shutdown"},
    {-ETOOMANYREFS, "Too many references: cannot splice"},
    {-ETIMEDOUT, "Connection timed out"},
    {-ECONNREFUSED, "Connection refused"},
    {-EHOSTDOWN, "Host is down"},
    {-EHOSTUNREACH, "No route to host"},
    {-EALREADY, "Operation already in progress"},
    {-EINPROGRESS, "Operation now in progress"},
    {-ESTALE, "Stale file handle"},
    {-EUCLEAN, "Structure needs cleaning"},
    {-ENOTNAM, "Not a XENIX named type file"},
    {-ENAVAIL, "No XENIX semaphores available"},
    {-EISNAM, "Is a named type file"},
    {-EREMOTEIO, "Remote I/O error"},
    {-EDQUOT, "Disk quota exceeded"},
    {-ENOMEDIUM, "No medium found"},
    {-EMEDIUMTYPE, "Wrong medium type"},
    {-ECANCELED, "Operation canceled"},
    {-ENOKEY, "Required key not available"},
    {-EKEYEXPIRED, "Key has expired"},
    {-EKEYREVOKED, "Key has been revoked"},
    {-EKEYREJECTED, "Key was rejected by service"},
    {-EOWNERDEAD, "Owner died"},
    {-ENOTRECOVERABLE, "State not recoverable"},
    // Socket errors again under their Windows-socket numbers, as the network code of other
    // builds reports them; the text is that of the POSIX twin.
    {-10036, "Operation now in progress"},  // EINPROGRESS
    {-10037, "Operation already in progress"},  // EALREADY
    {-10038, "Socket operation on non-socket"},  // ENOTSOCK
    {-10039, "Destination address required"},  // EDESTADDRREQ
    {-10040, "Message too long"},  // EMSGSIZE
    {-10041, "Protocol wrong type for socket"},  // EPROTOTYPE
    {-10042, "Protocol not available"},  // ENOPROTOOPT
    {-10043, "Protocol not supported"},  // EPROTONOSUPPORT
    {-10044, "Socket type not supported"},  // ESOCKTNOSUPPORT
    {-10045, "Operation not supported"},  // EOPNOTSUPP
    {-10046, "Protocol family not supported"},  // EPFNOSUPPORT
    {-10047, "Address family not supported by protocol"},  // EAFNOSUPPORT
    {-10048, "Address already in use"},  // EADDRINUSE
    {-10049, "Cannot assign requested address"},  // EADDRNOTAVAIL
    {-10050, "Network is down"},  // ENETDOWN
    {-10051, "Network is unreachable"},  // ENETUNREACH
    {-10052, "Network dropped connection on reset"},  // ENETRESET
    {-10053, "Software caused connection abort"},  // ECONNABORTED
    {-10054, "Connection reset by peer"},  // ECONNRESET
    {-10055, "No buffer space available"},  // ENOBUFS
    {-10056, "Transport endpoint is already connected"},  // EISCONN
    {-10057, "Transport endpoint is not connected"},  // ENOTCONN
    {-10058, "Cannot send after transport endpoint shutdown"},  // ESHUTDOWN
    {-10059, "Too many references: cannot splice"},  // ETOOMANYREFS
    {-10060, "Connection timed out"},  // ETIMEDOUT
    {-10061, "Connection refused"},  // ECONNREFUSED
    {-10064, "Host is down"},  // EHOSTDOWN
    {-10065, "No route to host"},  // EHOSTUNREACH
    // Windows-socket codes without a socket twin above, under their symbolic names.
    {-10004, "WSAEINTR"},
    {-10009, "WSAEBADF"},
    {-10013, "WSAEACCES"},
    {-10014, "WSAEFAULT"},
    {-10022, "WSAEINVAL"},
    {-10024, "WSAEMFILE"},
    {-10035, "WSAEWOULDBLOCK"},
    {-10062, "WSAELOOP"},
    {-10063, "WSAENAMETOOLONG"},
    {-10066, "WSAENOTEMPTY"},
    {-10067, "WSAEPROCLIM"},
    {-10068, "WSAEUSERS"},
    {-10069, "WSAEDQUOT"},
    {-10070, "WSAESTALE"},
    {-10071, "WSAEREMOTE"},
    {-10091, "WSASYSNOTREADY"},
    {-10092, "WSAVERNOTSUPPORTED"},
    {-10093, "WSANOTINITIALISED"},
    {-10101, "WSAEDISCON"},
    {-10102, "WSAENOMORE"},
    {-10103, "WSAECANCELLED"},
    {-10104, "WSAEINVALIDPROCTABLE"},
    {-10105, "WSAEINVALIDPROVIDER"},
    {-10106, "WSAEPROVIDERFAILEDINIT"},
    {-10107, "WSASYSCALLFAILURE"},
    {-10108, "WSASERVICE_NOT_FOUND"},
    {-10109, "WSATYPE_NOT_FOUND"},
    {-10110, "WSA_E_NO_MORE"},
    {-10111, "WSA_E_CANCELLED"},
    {-10112, "WSAEREFUSED"},
    {-11001, "WSAHOST_NOT_FOUND"},
    {-11002, "WSATRY_AGAIN"},
    {-11003, "WSANO_RECOVERY"},
    {-11004, "WSANO_DATA"},
    {-11005, "WSA_QOS_RECEIVERS"},
};

}  // namespace

const ErrorTextRow* ErrorTextTable() { return kErrorTexts; }
int ErrorTextTableSize() { return static_cast<int>(std::size(kErrorTexts)); }

std::string ErrorText(const std::string& prefix, int code) {
  std::string text;
  for (const ErrorTextRow& row : kErrorTexts) {
    if (row.Code == code) {
      text = row.Text;
      break;
    }
  }
  if (text.empty()) {
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, "Error number %d occurred", code);
    text = buffer;
  }
  return prefix.empty() ? text : prefix + ": " + text;
}

void* GrowArray(void* array, int elementSize, int& count, int newCount) {
  if (elementSize <= 0 || newCount >= INT_MAX / elementSize) {
    throw FFmpegException("Array too big.");
  }
  if (count < newCount) {
    const std::size_t oldBytes = static_cast<std::size_t>(count < 0 ? 0 : count) * elementSize;
    const std::size_t newBytes = static_cast<std::size_t>(newCount) * elementSize;
    void* grown = std::realloc(array, newBytes);
    if (grown == nullptr) {
      throw FFmpegException("Could not alloc buffer.");
    }
    std::memset(static_cast<char*>(grown) + oldBytes, 0, newBytes - oldBytes);
    array = grown;
    count = newCount;
  }
  return array;
}

}  // namespace lumivor
