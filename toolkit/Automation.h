/* Automation of the dialog toolkit from any language: plain C, no C++ types.
 *
 * A host or test installs agents that stand in for the user. The form agent is called when a
 * form is shown modally; from it, the caller acts on the form's controls by name as a user
 * would (type, click, choose, press keys, turn the wheel, press and hold while the clock
 * runs), reads their state and closes the form. Message boxes and file-open dialogs are
 * answered by agents of their own. Without agents a modal form closes with Cancel, a message
 * box prints its caption and text to standard error and answers with its default button, and
 * a file dialog is cancelled.
 *
 * Threads: the toolkit has one UI thread, the thread that shows the forms. Every function here
 * must be called on it, and every agent is called on it, synchronously, from inside the call
 * that shows the window. Nothing here is safe to call from another thread.
 *
 * Strings are UTF-8 and NUL-terminated. Input strings are only read during the call. String
 * results are copied into a caller buffer of `size` bytes: at most size - 1 bytes and a NUL
 * (nothing when size is 0; buffer may then be NULL); the return value is the full length in
 * bytes without the NUL, so a result >= size means it was cut short.
 *
 * Agents must return normally: no exceptions or longjmp across the toolkit.
 */
#ifndef STIPPLOR_TOOLKIT_AUTOMATION_H
#define STIPPLOR_TOOLKIT_AUTOMATION_H

#include <stddef.h>
#include <stdint.h>

#if defined(_WIN32)
#define TK_API /* a DLL without marked exports exports every function */
#elif defined(__GNUC__)
#define TK_API __attribute__((visibility("default")))
#else
#define TK_API
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* A form shown modally. The handle is valid from the form agent's call until the form object
 * is destroyed (normally: until the ShowModal call that showed it returns); every function
 * checks it and answers TK_ERR_NO_FORM for a handle that names no live form. */
typedef struct tk_form tk_form;

/* Results. Negative: failure, nothing happened. */
enum {
    TK_OK = 0,
    TK_ERROR_SHOWN = 1,      /* done; an event handler raised an error, which the
                                application reported (or a silent abort) */
    TK_ERR_ARGUMENT = -1,    /* a NULL where text is needed, an item index out of range, ... */
    TK_ERR_NO_FORM = -2,     /* no live form, or the form is closed or below another modal
                                window and takes no input */
    TK_ERR_NOT_FOUND = -3,   /* no control of that name on the form */
    TK_ERR_DISABLED = -4,    /* the control or a parent is disabled */
    TK_ERR_HIDDEN = -5,      /* the control or a parent is hidden */
    TK_ERR_UNSUPPORTED = -6, /* the control does not take this action or property */
    TK_ERR_NOT_PRESSED = -7, /* release without a press held on that control */
    TK_ERR_REFUSED = -8,     /* the form refused to close */
    TK_ERR_INTERNAL = -9     /* an unexpected failure inside the toolkit */
};

/* Modal results (of forms and of message-box buttons). */
enum {
    TK_MR_NONE = 0,
    TK_MR_OK = 1,
    TK_MR_CANCEL = 2,
    TK_MR_ABORT = 3,
    TK_MR_RETRY = 4,
    TK_MR_IGNORE = 5,
    TK_MR_YES = 6,
    TK_MR_NO = 7,
    TK_MR_ALL = 8,
    TK_MR_NO_TO_ALL = 9,
    TK_MR_YES_TO_ALL = 10
};

/* Shift-state bits. */
enum { TK_SHIFT = 1, TK_ALT = 2, TK_CTRL = 4 };

/* Key codes. */
enum {
    TK_KEY_BACK = 8,
    TK_KEY_TAB = 9,
    TK_KEY_RETURN = 13,
    TK_KEY_ESCAPE = 27,
    TK_KEY_SPACE = 32,
    TK_KEY_END = 35,
    TK_KEY_HOME = 36,
    TK_KEY_LEFT = 37,
    TK_KEY_UP = 38,
    TK_KEY_RIGHT = 39,
    TK_KEY_DOWN = 40,
    TK_KEY_DELETE = 46
};

/* One notch of the wheel; positive turns forward (away from the user). */
#define TK_WHEEL_NOTCH 120

/* Text properties for tk_get_string. */
enum {
    TK_PROP_NAME = 1,
    TK_PROP_CLASS = 2,   /* "TButton", "TEdit", ... */
    TK_PROP_CAPTION = 3, /* as set, accelerator markers included */
    TK_PROP_TEXT = 4,    /* of edits */
    TK_PROP_VALUE = 5    /* of value fields; TK_ERR_UNSUPPORTED for other controls */
};

/* Integer properties for tk_get_int. */
enum {
    TK_PROP_CHECKED = 101,     /* check boxes and radio buttons: 0 or 1 */
    TK_PROP_ITEM_INDEX = 102,  /* radio groups: -1 for none */
    TK_PROP_ITEM_COUNT = 103,  /* radio groups */
    TK_PROP_ENABLED = 104,     /* the control's own flag, 0 or 1 */
    TK_PROP_VISIBLE = 105,     /* the control's own flag, 0 or 1 */
    TK_PROP_TAKES_INPUT = 106, /* 1 when enabled and showing all the way up */
    TK_PROP_FOCUSED = 107,     /* 1 for the form's active control */
    TK_PROP_TEXT_COLOR = 108,  /* font colour as 0xBBGGRR, system colours resolved */
    TK_PROP_SEL_START = 109,   /* edits: selection start in bytes */
    TK_PROP_SEL_LENGTH = 110,  /* edits: selection length in bytes */
    TK_PROP_LEFT = 111,
    TK_PROP_TOP = 112,
    TK_PROP_WIDTH = 113,
    TK_PROP_HEIGHT = 114,
    TK_PROP_MODAL_RESULT = 115 /* forms (control NULL) */
};

/* ---- Agents. Each call replaces the agent installed before; NULL removes it. `user` is
 * passed back untouched and must stay valid while the agent is installed. */

/* Called when a form is shown modally, once it is on screen. Returning with the form still
 * open closes it with TK_MR_CANCEL. */
typedef void (*tk_form_agent)(tk_form* form, void* user);
TK_API void tk_set_form_agent(tk_form_agent agent, void* user);

/* The message box being shown; all pointers are valid only during the agent's call. */
typedef struct tk_message_box_info {
    const char* caption;
    const char* text;
    int icon; /* TK_ICON_* */
    int button_count;
    const int* buttons;                 /* modal result of each button, left to right */
    const char* const* button_captions; /* "OK", "Cancel", ... */
    int default_result;                 /* the default button's modal result */
    int cancel_result;                  /* the cancel button's, or TK_MR_NONE */
    int screen_centred;                 /* 1: centred on the screen; 0: on the owner */
    intptr_t owner;                     /* the application's owner window */
} tk_message_box_info;
enum {
    TK_ICON_WARNING = 0,
    TK_ICON_ERROR = 1,
    TK_ICON_INFORMATION = 2,
    TK_ICON_CONFIRMATION = 3,
    TK_ICON_NONE = 4
};
/* Returns the modal result of the button to press; TK_MR_NONE, or a result that is not one
 * of the box's buttons, presses the default button. */
typedef int (*tk_message_box_agent)(const tk_message_box_info* box, void* user);
TK_API void tk_set_message_box_agent(tk_message_box_agent agent, void* user);

/* The file-open dialog being shown; all pointers are valid only during the agent's call. */
typedef struct tk_file_dialog_info {
    const char* title;
    const char* filter; /* "Description|*.ext;*.ext2|..." */
    int filter_index;   /* 1-based */
    unsigned options;   /* TK_OF_* bits */
    const char* initial_dir;
    const char* file_name; /* preselected name, may be empty */
} tk_file_dialog_info;
enum {
    TK_OF_HIDE_READ_ONLY = 1,
    TK_OF_FILE_MUST_EXIST = 2,
    TK_OF_PATH_MUST_EXIST = 4,
    TK_OF_ENABLE_SIZING = 8,
    TK_OF_NO_CHANGE_DIR = 16,
    TK_OF_ALLOW_MULTI_SELECT = 32
};
/* To choose a file, write its name (NUL-terminated, relative names are taken relative to
 * initial_dir) into `chosen`, which holds `chosen_size` bytes, and return non-zero; return 0
 * to cancel. */
typedef int (*tk_file_dialog_agent)(const tk_file_dialog_info* dialog, char* chosen,
                                    size_t chosen_size, void* user);
TK_API void tk_set_file_dialog_agent(tk_file_dialog_agent agent, void* user);

/* ---- Reading state. `control` names a control on the form ("Outer.Inner" for Inner below
 * Outer, when names repeat); NULL means the form itself. */

TK_API int tk_get_string(tk_form* form, const char* control, int property, char* buffer,
                         size_t size);
/* Stores the property in *value; returns TK_OK or an error. */
TK_API int tk_get_int(tk_form* form, const char* control, int property, int* value);
/* Item `index` of a radio group. */
TK_API int tk_get_item(tk_form* form, const char* control, int index, char* buffer, size_t size);
/* The form's controls, depth first in creation order: how many, and the name of one. */
TK_API int tk_control_count(tk_form* form);
TK_API int tk_control_name(tk_form* form, int index, char* buffer, size_t size);

/* ---- Acting as the user. Each returns TK_OK, TK_ERROR_SHOWN or a failure; acting on a
 * disabled or hidden control does nothing and fails. */

/* Press and release the left button over the control. */
TK_API int tk_click(tk_form* form, const char* control);
/* Replace an edit's whole text by typing `text` (its first line). */
TK_API int tk_type_text(tk_form* form, const char* control, const char* text);
/* Choose item `index` of a radio group. */
TK_API int tk_choose_item(tk_form* form, const char* control, int index);
/* Focus the control and press a key (TK_KEY_*) with TK_SHIFT/TK_ALT/TK_CTRL bits. */
TK_API int tk_press_key(tk_form* form, const char* control, int key, int shift);
/* Point at the control and turn the wheel by `delta` (TK_WHEEL_NOTCH per notch); *handled
 * (may be NULL) tells whether a control took it. */
TK_API int tk_turn_wheel(tk_form* form, const char* control, int delta, int shift, int* handled);
/* Press the left button over the control and hold it; release it later. */
TK_API int tk_press(tk_form* form, const char* control, int shift);
TK_API int tk_release(tk_form* form, const char* control, int shift);
/* Close the form with a modal result other than TK_MR_NONE. */
TK_API int tk_close_form(tk_form* form, int modal_result);

/* ---- Time, cursor, application. */

/* Moves the toolkit's clock forward; due timers fire on the way. Negative counts as 0. */
TK_API void tk_advance_clock(int64_t ms);
TK_API int64_t tk_clock_now(void);
/* The screen's cursor: 0 normal, -11 busy. */
TK_API int tk_screen_cursor(void);
/* The owner window of all dialogs, as the plug-in set it. */
TK_API intptr_t tk_application_handle(void);

#ifdef __cplusplus
}
#endif

#endif
