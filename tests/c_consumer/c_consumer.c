/* A plain C program that knows the library only through pxlib.h. */
#include <pxlib.h>

#include <stdio.h>
#include <string.h>

static int failures = 0;

#define CHECK(cond)                                                    \
    do {                                                               \
        if (!(cond)) {                                                 \
            fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, #cond); \
            ++failures;                                                \
        }                                                              \
    } while (0)

int main(void)
{
    char version[20];
    unsigned char source[10] = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9};
    unsigned char sinkBuffer[8];
    unsigned char out[100];
    const unsigned char bytes[8] = {1, 2, 3, 4, 5, 6, 7, 8};
    DataChannel* ch;

    InitializeLibrary();
    GetLibraryVersion(version);
    CHECK(strcmp(version, "PX 2.1.3.7") == 0);
    printf("library version: %s\n", version);

    ch = OpenMemorySource(source, sizeof source);
    CHECK(ch != NULL);
    CHECK(ChannelSeek(ch, 9, 0) == 1);
    CHECK(ChannelAtEnd(ch) != 0);
    CHECK(ChannelSeek(ch, 10, 0) == 0);
    CHECK(ChannelSeek(ch, -1, 2) == 1 && ChannelTell(ch) == 9);
    CHECK(ChannelSeek(ch, 4, 0) == 1);
    CHECK(ChannelRead(ch, out, 100) == 6 && ChannelTell(ch) == 10);
    CHECK(CloseSource(ch) == 10);

    ch = OpenMemorySink(sinkBuffer, sizeof sinkBuffer);
    CHECK(ChannelWrite(ch, bytes, 8) == 0);
    CHECK(ChannelWrite(ch, bytes, 5) == 1);
    CHECK(ChannelSize(ch) == 5);
    CHECK(CloseSink(ch) == 5);

    CHECK(OpenFileSource("") == NULL && GetLastLibraryError() == PX_ERR_OPEN);
    CHECK(OpenMemorySource(source, 0) == NULL && GetLastLibraryError() == PX_ERR_BAD_ARGUMENT);

    ShutdownLibrary();
    printf("%d passed, %d failed\n", failures ? 0 : 1, failures ? 1 : 0);
    return failures ? 1 : 0;
}
