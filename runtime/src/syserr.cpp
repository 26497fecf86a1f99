// The system error layer: one per-thread value, produced from errno in one place.
#include <cerrno>
#include <cstring>

#include "internal/syserr.h"
#include "yar/yar_error.h"

namespace yar::internal {

namespace {

thread_local int t_systemError = 0;
thread_local char t_strErrorBuf[256];

int MapSocketErrno(int err, ErrnoContext ctx) {
    switch (err) {
    case EINTR: return YAR_SYSERR_WSAEINTR;
    case EBADF: return YAR_SYSERR_WSAEBADF;
    case EFAULT: return YAR_SYSERR_WSAEFAULT;
    case EINVAL: return YAR_SYSERR_WSAEINVAL;
    case EMFILE: return YAR_SYSERR_WSAEMFILE;
    case EALREADY: return YAR_SYSERR_WSAEALREADY;
    case ENOTSOCK: return YAR_SYSERR_WSAENOTSOCK;
    case EMSGSIZE: return YAR_SYSERR_WSAEMSGSIZE;
    case EAFNOSUPPORT: return YAR_SYSERR_WSAEAFNOSUPPORT;
    case EADDRINUSE: return YAR_SYSERR_WSAEADDRINUSE;
    case EADDRNOTAVAIL: return YAR_SYSERR_WSAEADDRNOTAVAIL;
    case ENETDOWN: return YAR_SYSERR_WSAENETDOWN;
    case ENETUNREACH: return YAR_SYSERR_WSAENETUNREACH;
    case ECONNABORTED: return YAR_SYSERR_WSAECONNABORTED;
    case ENOBUFS: return YAR_SYSERR_WSAENOBUFS;
    case EISCONN: return YAR_SYSERR_WSAEISCONN;
    case ENOTCONN: return YAR_SYSERR_WSAENOTCONN;
    case ESHUTDOWN: return YAR_SYSERR_WSAESHUTDOWN;
    case EHOSTUNREACH: return YAR_SYSERR_WSAEHOSTUNREACH;
    case EPIPE:
    case ECONNRESET: return YAR_SYSERR_WSAECONNRESET;
    case ECONNREFUSED:
        return ctx == ErrnoContext::UdpSocket ? YAR_SYSERR_WSAECONNRESET : YAR_SYSERR_WSAECONNREFUSED;
    case EACCES:
    case EPERM: return YAR_SYSERR_NETWORK_ACCESS_DENIED;
    default: return -1;
    }
}

}  // namespace

int MapErrno(int err, ErrnoContext ctx) {
    switch (err) {
    case 0: return YAR_SYSERR_SUCCESS;
    case EAGAIN:
    case EINPROGRESS: return YAR_SYSERR_WSAEWOULDBLOCK;
    case ETIMEDOUT: return YAR_SYSERR_WSAETIMEDOUT;
    case ECANCELED: return YAR_SYSERR_OPERATION_ABORTED;
    default: break;
    }
    if (ctx != ErrnoContext::Generic) {
        int mapped = MapSocketErrno(err, ctx);
        if (mapped != -1)
            return mapped;
    }
    switch (err) {
    case ENOENT: return YAR_SYSERR_FILE_NOT_FOUND;
    case ENOTDIR: return YAR_SYSERR_PATH_NOT_FOUND;
    case EBADF: return YAR_SYSERR_INVALID_HANDLE;
    case EACCES:
    case EPERM: return YAR_SYSERR_ACCESS_DENIED;
    case ENOMEM: return YAR_SYSERR_NOT_ENOUGH_MEMORY;
    case EEXIST: return YAR_SYSERR_FILE_EXISTS;
    case EINVAL: return YAR_SYSERR_INVALID_PARAMETER;
    default: return err;
    }
}

void SetSystemErrorFromErrno(int err, ErrnoContext ctx) {
    t_systemError = MapErrno(err, ctx);
}

}  // namespace yar::internal

extern "C" {

int YAR_GetSystemLastError(void) {
    return yar::internal::t_systemError;
}

void YAR_SetSystemLastError(int code) {
    yar::internal::t_systemError = code;
}

const char *YAR_StrError(int errnum) {
    return strerror_r(errnum, yar::internal::t_strErrorBuf, sizeof yar::internal::t_strErrorBuf);
}

}  // extern "C"
