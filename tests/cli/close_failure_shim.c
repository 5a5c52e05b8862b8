/* Preloaded into quillet-batch by the close-failure tests: the call named by QUILLET_FAIL_CALL
 * (fflush, fsync or fclose) fails with EIO on files whose path holds QUILLET_FAIL_UNDER, as
 * on a full quota or a network file system; every other call goes to the C library. */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <errno.h>
#include <limits.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

static int Targeted(int fd, const char* call)
{
    const char* which = getenv("QUILLET_FAIL_CALL");
    const char* under = getenv("QUILLET_FAIL_UNDER");
    if (!which || !under || strcmp(which, call) != 0 || fd < 0)
        return 0;
    char link[64], path[PATH_MAX];
    snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
    const ssize_t n = readlink(link, path, sizeof path - 1);
    if (n <= 0)
        return 0;
    path[n] = '\0';
    return strstr(path, under) != NULL;
}

int fsync(int fd)
{
    static int (*real)(int);
    if (Targeted(fd, "fsync")) {
        errno = EIO;
        return -1;
    }
    if (!real)
        *(void**)&real = dlsym(RTLD_NEXT, "fsync");
    return real(fd);
}

int fflush(FILE* stream)
{
    static int (*real)(FILE*);
    if (stream && Targeted(fileno(stream), "fflush")) {
        errno = EIO;
        return EOF;
    }
    if (!real)
        *(void**)&real = dlsym(RTLD_NEXT, "fflush");
    return real(stream);
}

int fclose(FILE* stream)
{
    static int (*real)(FILE*);
    const int fail = stream && Targeted(fileno(stream), "fclose");
    if (!real)
        *(void**)&real = dlsym(RTLD_NEXT, "fclose");
    const int result = real(stream);
    if (fail) {
        errno = EIO;
        return EOF;
    }
    return result;
}
