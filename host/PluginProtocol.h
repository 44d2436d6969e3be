/* The Orvalis plug-in protocol as a host sees it: the two functions a plug-in library exports,
 * the host's callback, its request codes and their records. Plain C, written from the
 * protocol's description and kept apart from the plug-in's own declarations, as any host's
 * would be; the tests hold the two against each other.
 *
 * Layouts: every field is 32 bits on 32-bit Windows (asserted below for such a build). On
 * 64-bit targets pointer fields (and the window handle of request 4) are pointer-sized,
 * everything else is unchanged, and fields sit at their natural alignment.
 *
 * Lifetimes: a record and the texts it points to are valid for the duration of the call that
 * passes them. Threads: a plug-in calls the callback only on the thread that called its
 * export. */
#ifndef ORVALIS_PLUGIN_PROTOCOL_H
#define ORVALIS_PLUGIN_PROTOCOL_H

#include <stddef.h>
#include <stdint.h>

#if defined(_WIN32) && !defined(_WIN64)
#define ORVALIS_CALL __stdcall
#else
#define ORVALIS_CALL
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* Request codes a plug-in sends. */
enum {
    ORVALIS_REQUEST_REGISTER = 1,      /* orvalis_plugin_info: the menu entry; the answer is
                                          RegisterPlugin's result */
    ORVALIS_REQUEST_NEW_IMAGE = 2,     /* orvalis_new_image: copy it before returning */
    ORVALIS_REQUEST_DOCUMENT_INFO = 3, /* orvalis_document_info: 0 when no such document */
    ORVALIS_REQUEST_MAIN_WINDOW = 4,   /* orvalis_window: write the main window's handle */
    ORVALIS_REQUEST_PROGRESS = 5,      /* int32_t percentage: 0 answers "stop" */
    ORVALIS_REQUEST_IMAGE_GAMMA = 10   /* orvalis_gamma_info: non-zero with Size >= 8 and the
                                          gamma filled in, or 0 for none */
};

/* ProcessImage's Kind for the plug-in's one command. */
enum { ORVALIS_KIND_PROCESS = 1 };

typedef int32_t(ORVALIS_CALL* orvalis_callback)(int32_t request, void* record);

typedef struct orvalis_plugin_info {
    const char* menu;
    const char* name;
    const char* description;
    int32_t kind;
} orvalis_plugin_info;

typedef struct orvalis_image {
    int32_t width;
    int32_t height;
    int32_t bytes_per_line;
    int32_t pixel_type;     /* bytes per pixel: 1 palette index, 3 blue-green-red, 4 BGR + unused */
    const uint8_t* map;     /* row 0, the top row */
    const uint8_t* palette; /* 256 blue-green-red entries, or NULL */
    int32_t reserved;
} orvalis_image;

typedef struct orvalis_document_info {
    int32_t index; /* set by the plug-in */
    int32_t unused4;
    const char* file_name; /* set by the host */
    int32_t unused12[4];
    const uint8_t* image_map; /* set by the host: the document image's pixels */
    int32_t unused32[6];
} orvalis_document_info;

typedef struct orvalis_new_image {
    const char* title;
    orvalis_image image;
} orvalis_new_image;

typedef struct orvalis_gamma_info {
    int32_t size; /* 8 from the plug-in; lower it when filling less */
    float gamma;
} orvalis_gamma_info;

typedef intptr_t orvalis_window;

/* The exports of a plug-in library. */
typedef int32_t(ORVALIS_CALL* orvalis_register_plugin)(orvalis_callback callback);
typedef int32_t(ORVALIS_CALL* orvalis_process_image)(int32_t kind, const orvalis_image* image);

#if defined(_WIN32) && !defined(_WIN64) && defined(__cplusplus)
static_assert(sizeof(orvalis_plugin_info) == 16, "orvalis_plugin_info");
static_assert(sizeof(orvalis_image) == 28 && offsetof(orvalis_image, map) == 16 &&
                  offsetof(orvalis_image, palette) == 20,
              "orvalis_image");
static_assert(sizeof(orvalis_document_info) == 56 &&
                  offsetof(orvalis_document_info, file_name) == 8 &&
                  offsetof(orvalis_document_info, image_map) == 28,
              "orvalis_document_info");
static_assert(sizeof(orvalis_new_image) == 32, "orvalis_new_image");
#endif

#ifdef __cplusplus
}
#endif

#endif
