/* A small host of the ZELK-2716E driver, in C11. It loads the library at run time, starts
 * one instance with a parameter file, runs one read cycle of analog channels 0..3 and the
 * device status, one write cycle (digital output), and, when a record count is given, a
 * timed measurement that it follows through the driver's notifications. Texts come back in
 * Windows-1250.
 *
 *   cc -std=c11 -Wall -Wextra -I include examples/c_host/host.c -o host -ldl
 *   ./host DRIVER_LIBRARY PARAMETER_FILE [RECORDS]
 *
 * The parameter file path must be absolute or contain a folder: a bare name is looked up
 * beside the host's executable. The measurement writes its files into the folder that the
 * parameter file names ([Konverze souboru] Adresář). */
#if !defined(_WIN32)
#define _POSIX_C_SOURCE 200809L /* nanosleep under -std=c11 */
#endif
#include <stdatomic.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#define ZELK2716E_NO_PROTOTYPES /* the library is loaded at run time */
#include "zelk2716e.h"

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

/* The exports this host uses. */
static ZelkMakeDriverFn MakeDriver;
static ZelkDisposeDriverFn DisposeDriver;
static ZelkInitFn Init;
static ZelkDoneFn Done;
static ZelkInputRequestFn InputRequest;
static ZelkInputRequestCompletedFn InputRequestCompleted;
static ZelkInputFinalizedFn InputFinalized;
static ZelkGetInputFn GetInput;
static ZelkOutputRequestFn OutputRequest;
static ZelkOutputRequestCompletedFn OutputRequestCompleted;
static ZelkOutputFinalizedFn OutputFinalized;

/* Notifications by kind (0 input, 1 output). Written on the driver's notification thread,
 * read here: atomics, not plain ints. */
static atomic_uint notifications[2];

static int32_t ZELK_CDECL OnNotify(uint32_t userValue, int32_t kind, void* instance) {
    (void)userValue;
    (void)instance;
    if (kind == 0 || kind == 1) atomic_fetch_add(&notifications[kind], 1u);
    return 0;
}

/* Finalizes each channel; one that is not finished yet is reported by a notification of
 * `kind`, which this waits for (at most timeoutMs in all) before finalizing again. */
static int FinishAll(void* inst, const uint32_t* channels, int count, int kind, int timeoutMs) {
    ZelkInputFinalizedFn finalize = kind == 0 ? InputFinalized : OutputFinalized;
    int waited = 0;
    for (int i = 0; i < count; ++i) {
        for (;;) {
            unsigned seen = atomic_load(&notifications[kind]);
            int32_t err = 0;
            if (finalize(inst, channels[i], &err) == 1) break;
            while (atomic_load(&notifications[kind]) == seen && waited < timeoutMs) {
                SLEEP_MS(1);
                ++waited;
            }
            if (waited >= timeoutMs) return 0;
        }
    }
    return 1;
}

static ZelkValue Longcard(uint32_t v) {
    ZelkValue r;
    memset(&r, 0, sizeof r);
    r.tag = ZELK_TAG_LONGCARD;
    memcpy(r.payload, &v, sizeof v);
    return r;
}

static uint32_t ReadLongcard(void* inst, uint32_t ch) {
    ZelkValue v = Longcard(0);
    GetInput(inst, ch, &v);
    uint32_t x;
    memcpy(&x, v.payload, sizeof x);
    return x;
}

/* One read cycle of a longcard channel. */
static int ReadOne(void* inst, uint32_t ch, uint32_t* value) {
    InputRequest(inst, ch);
    InputRequestCompleted(inst);
    if (!FinishAll(inst, &ch, 1, 0, 5000)) return 0;
    *value = ReadLongcard(inst, ch);
    return 1;
}

/* One write cycle: every value requested, the batch ended, each channel finalized. */
static int WriteCycle(void* inst, const uint32_t* channels, const uint32_t* values, int count) {
    for (int i = 0; i < count; ++i) OutputRequest(inst, channels[i], Longcard(values[i]));
    OutputRequestCompleted(inst);
    return FinishAll(inst, channels, count, 1, 5000);
}

/* Starts a measurement of `records` records and follows channels 201 and 203 until the
 * driver has stored them. In DBF mode a conversion thread then writes the table and deletes
 * the record file; Done stops it, so a host that wants the table waits for the .bin to go. */
static int Measure(void* inst, uint32_t records) {
    const uint32_t start[] = {ZELK_CH_MEASURE_RECORDS, ZELK_CH_MEASURE_START};
    const uint32_t startValues[] = {records, 1};
    if (!WriteCycle(inst, start, startValues, 2)) {
        fprintf(stderr, "the start did not finish\n");
        return 0;
    }
    uint32_t status = ZELK_MEASURE_RUNNING, stored = 0;
    int seenRunning = 0;
    for (int cycle = 0; cycle < 6000; ++cycle) {
        if (!ReadOne(inst, ZELK_CH_MEASURE_STATUS, &status) || !ReadOne(inst, ZELK_CH_MEASURE_STORED, &stored)) break;
        if (status == ZELK_MEASURE_RUNNING || status == ZELK_MEASURE_CONVERTING) seenRunning = 1;
        else if (seenRunning || stored > 0) break;
        SLEEP_MS(10);
    }
    printf("measurement: %u records stored, status %u\n", stored, status);
    return status == ZELK_MEASURE_IDLE && stored == records;
}

#define BIND(name) (name = (Zelk##name##Fn)SYMBOL(lib, #name)) != NULL

int main(int argc, char** argv) {
    if (argc != 3 && argc != 4) {
        fprintf(stderr, "usage: %s DRIVER_LIBRARY PARAMETER_FILE [RECORDS]\n", argv[0]);
        return 1;
    }
    void* lib = LOAD(argv[1]);
    if (!lib) {
        fprintf(stderr, "cannot load %s\n", argv[1]);
        return 2;
    }
    /* A data pointer converted to a function pointer: what dlsym/GetProcAddress give. */
    if (!(BIND(MakeDriver) && BIND(DisposeDriver) && BIND(Init) && BIND(Done) && BIND(InputRequest) &&
          BIND(InputRequestCompleted) && BIND(InputFinalized) && BIND(GetInput) && BIND(OutputRequest) &&
          BIND(OutputRequestCompleted) && BIND(OutputFinalized))) {
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
    const uint32_t channels[] = {0, 1, 2, 3, ZELK_CH_DEVICE_STATUS, ZELK_CH_DEVICE_TEXT};
    const int count = (int)(sizeof channels / sizeof channels[0]);
    for (int i = 0; i < count; ++i) InputRequest(inst, channels[i]);
    InputRequestCompleted(inst);
    int ok = FinishAll(inst, channels, count, 0, 5000);
    uint32_t status = 0;
    for (int i = 0; i < count; ++i) {
        ZelkValue v;
        memset(&v, 0, sizeof v);
        char text[1024] = {0};
        if (channels[i] <= ZELK_CH_AIN_LAST) {
            v.tag = ZELK_TAG_REAL;
            GetInput(inst, channels[i], &v);
            double d;
            memcpy(&d, v.payload, sizeof d);
            printf("channel %u: %.4f V\n", channels[i], d);
        } else if (channels[i] == ZELK_CH_DEVICE_STATUS) {
            status = ReadLongcard(inst, channels[i]);
            printf("channel 98: device status %u\n", status);
        } else {
            char* p = text;
            v.tag = ZELK_TAG_STRING;
            memcpy(v.payload, &p, sizeof p);
            GetInput(inst, channels[i], &v);
            printf("channel 99: %s\n", text);
        }
    }

    /* One write cycle: DOUT = 2. */
    const uint32_t out[] = {ZELK_CH_DOUT};
    const uint32_t outValues[] = {2};
    ok = ok && WriteCycle(inst, out, outValues, 1);
    printf("write cycle: %s\n", ok ? "finished" : "not finished");

    if (ok && status == ZELK_STATUS_OK && argc == 4) ok = Measure(inst, (uint32_t)strtoul(argv[3], NULL, 10));
    printf("notifications: %u input, %u output\n", atomic_load(&notifications[0]), atomic_load(&notifications[1]));
    Done(inst);
    DisposeDriver(inst);
    if (status != ZELK_STATUS_OK) return 3;
    return ok ? 0 : 4;
}
