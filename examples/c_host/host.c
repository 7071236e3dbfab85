/* A minimal host of the ZELK-2716E driver: loads the library, starts one instance with a
 * parameter file, runs one read cycle of analog channels 0..3 and the device status, and
 * stops. Build: cc host.c -o host -ldl;  run: ./host DRIVER_LIBRARY PARAMETER_FILE
 * The parameter file path must be absolute or contain a folder: a bare name is looked up
 * beside the host's executable. Texts come back in Windows-1250. */
#include <stdatomic.h>
#include <stdint.h>
#include <stdio.h>
#include <string.h>

#if defined(_WIN32)
#include <windows.h>
#define LOAD(path) ((void*)LoadLibraryA(path))
#define SYMBOL(lib, name) ((void*)GetProcAddress((HMODULE)(lib), name))
#define SLEEP_MS(ms) Sleep(ms)
#else
#include <dlfcn.h>
#include <time.h>
#define LOAD(path) dlopen(path, RTLD_NOW)
#define SYMBOL(lib, name) dlsym(lib, name)
static void SLEEP_MS(int ms) {
    struct timespec ts = {ms / 1000, (ms % 1000) * 1000000L};
    nanosleep(&ts, NULL);
}
#endif

/* The host's value record: a type tag and 8 payload bytes, 12 bytes, alignment 4. */
typedef struct {
    int32_t tag;
    uint8_t payload[8];
} Value;

typedef int32_t (*Callback)(uint32_t userValue, int32_t kind, void* instance);
typedef void* (*MakeDriverFn)(void);
typedef void (*InstanceFn)(void*);
typedef uint8_t (*InitFn)(void*, uint32_t, const char*, int32_t, char*, uint32_t, uint32_t, uint32_t, Callback);
typedef void (*ChannelFn)(void*, uint32_t);
typedef uint8_t (*FinalizedFn)(void*, uint32_t, int32_t*);
typedef void (*GetInputFn)(void*, uint32_t, Value*);

/* Written on the driver's notification thread, read here: an atomic, not a plain int. */
static atomic_int notifications;

/* Runs on the driver's notification thread: a request we finalized too early is done. */
static int32_t OnNotify(uint32_t userValue, int32_t kind, void* instance) {
    (void)userValue; (void)kind; (void)instance;
    atomic_fetch_add(&notifications, 1);
    return 0;
}

int main(int argc, char** argv) {
    if (argc != 3) {
        fprintf(stderr, "usage: %s DRIVER_LIBRARY PARAMETER_FILE\n", argv[0]);
        return 1;
    }
    void* lib = LOAD(argv[1]);
    if (!lib) {
        fprintf(stderr, "cannot load %s\n", argv[1]);
        return 2;
    }
    MakeDriverFn MakeDriver = (MakeDriverFn)SYMBOL(lib, "MakeDriver");
    InstanceFn DisposeDriver = (InstanceFn)SYMBOL(lib, "DisposeDriver");
    InitFn Init = (InitFn)SYMBOL(lib, "Init");
    InstanceFn Done = (InstanceFn)SYMBOL(lib, "Done");
    ChannelFn InputRequest = (ChannelFn)SYMBOL(lib, "InputRequest");
    InstanceFn InputRequestCompleted = (InstanceFn)SYMBOL(lib, "InputRequestCompleted");
    FinalizedFn InputFinalized = (FinalizedFn)SYMBOL(lib, "InputFinalized");
    GetInputFn GetInput = (GetInputFn)SYMBOL(lib, "GetInput");
    if (!MakeDriver || !DisposeDriver || !Init || !Done || !InputRequest || !InputRequestCompleted ||
        !InputFinalized || !GetInput) {
        fprintf(stderr, "%s lacks an export\n", argv[1]);
        return 2;
    }

    void* inst = MakeDriver();
    char msg[257] = {0};
    if (Init(inst, 0, argv[2], 256, msg, 0, 0, 7, OnNotify) != 1) {
        fprintf(stderr, "Init failed: %s\n", msg);
        Done(inst);
        DisposeDriver(inst);
        return 2;
    }

    /* One read cycle: request, end the batch, finalize (waiting for the unfinished), fetch. */
    const uint32_t channels[] = {0, 1, 2, 3, 98, 99};
    const int count = (int)(sizeof channels / sizeof channels[0]);
    for (int i = 0; i < count; ++i) InputRequest(inst, channels[i]);
    InputRequestCompleted(inst);
    for (int i = 0; i < count; ++i) {
        int32_t err = 0;
        int waited = 0;
        while (InputFinalized(inst, channels[i], &err) != 1 && waited < 5000) {
            SLEEP_MS(1);  /* the notification comes within a pass of the acquisition thread */
            ++waited;
        }
    }
    uint32_t status = 0;
    for (int i = 0; i < count; ++i) {
        Value v;
        memset(&v, 0, sizeof v);
        char text[1024] = {0};
        if (channels[i] <= 15) {
            v.tag = 10;
            GetInput(inst, channels[i], &v);
            double d;
            memcpy(&d, v.payload, sizeof d);
            printf("channel %u: %.4f V\n", channels[i], d);
        } else if (channels[i] == 98) {
            v.tag = 5;
            GetInput(inst, channels[i], &v);
            memcpy(&status, v.payload, sizeof status);
            printf("channel 98: device status %u\n", status);
        } else {
            char* p = text;
            v.tag = 11;
            memcpy(v.payload, &p, sizeof p);
            GetInput(inst, channels[i], &v);
            printf("channel 99: %s\n", text);
        }
    }
    printf("notifications: %d\n", atomic_load(&notifications));
    Done(inst);
    DisposeDriver(inst);
    return status == 0 ? 0 : 3;
}
