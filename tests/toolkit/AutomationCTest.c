/* Drives a form through the C automation interface only. */
#include "toolkit/Automation.h"

#include <stdio.h>
#include <string.h>

void* ctest_form_create(void);
int ctest_form_show(void* form);
void ctest_form_destroy(void* form);

static int failures = 0;

#define CHECK(condition)                                                                           \
    do {                                                                                           \
        if (!(condition)) {                                                                        \
            fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, #condition);          \
            ++failures;                                                                            \
        }                                                                                          \
    } while (0)

static int expect_string(tk_form* form, const char* control, int property, const char* want) {
    char buffer[256];
    int length = tk_get_string(form, control, property, buffer, sizeof buffer);
    if (length < 0 || strcmp(buffer, want) != 0) {
        fprintf(stderr, "%s: got '%s' (%d), want '%s'\n", control ? control : "(form)",
                length < 0 ? "" : buffer, length, want);
        return 0;
    }
    return 1;
}

static int expect_int(tk_form* form, const char* control, int property, int want) {
    int value = -12345;
    int result = tk_get_int(form, control, property, &value);
    if (result != TK_OK || value != want) {
        fprintf(stderr, "%s: property %d is %d (result %d), want %d\n",
                control ? control : "(form)", property, value, result, want);
        return 0;
    }
    return 1;
}

struct box_log {
    int count;
    char caption[64];
    char text[128];
    int default_result;
};

static int answer_box(const tk_message_box_info* box, void* user) {
    struct box_log* log = (struct box_log*)user;
    ++log->count;
    snprintf(log->caption, sizeof log->caption, "%s", box->caption);
    snprintf(log->text, sizeof log->text, "%s", box->text);
    log->default_result = box->default_result;
    return TK_MR_NONE;
}

static const char* chosen_file;

/* An absolute path: from the root, or on Windows from a drive's root. */
static int is_absolute(const char* path) {
#ifdef _WIN32
    return path[0] != '\0' && path[1] == ':' && (path[2] == '\\' || path[2] == '/');
#else
    return path[0] == '/';
#endif
}

static int choose_file(const tk_file_dialog_info* dialog, char* chosen, size_t size, void* user) {
    (void)user;
    CHECK(strcmp(dialog->filter, "TIFF images|*.tif;*.tiff") == 0);
    CHECK((dialog->options & TK_OF_FILE_MUST_EXIST) != 0);
    snprintf(chosen, size, "%s", chosen_file);
    return 1;
}

static void drive(tk_form* form, void* user) {
    struct box_log* boxes = (struct box_log*)user;
    char name[64];
    char small[4];
    int handled = -1;

    CHECK(expect_string(form, NULL, TK_PROP_CAPTION, "Stipplor test"));
    CHECK(tk_control_count(form) == 11);
    CHECK(tk_control_name(form, 0, name, sizeof name) == 9 && strcmp(name, "ColorMode") == 0);
    CHECK(tk_control_name(form, 99, name, sizeof name) == TK_ERR_ARGUMENT);
    CHECK(expect_string(form, "CellSize", TK_PROP_CLASS, "TEdit"));
    CHECK(tk_click(form, "NoSuchControl") == TK_ERR_NOT_FOUND);

    /* Choosing, clicking, and a disabled field that ignores the user. */
    CHECK(tk_choose_item(form, "ColorMode", 2) == TK_OK);
    CHECK(expect_int(form, "ColorMode", TK_PROP_ITEM_INDEX, 2));
    CHECK(tk_get_item(form, "ColorMode", 1, name, sizeof name) == 4 && strcmp(name, "CMYK") == 0);
    CHECK(tk_type_text(form, "OutputPathEdit", "/tmp/out") == TK_ERR_DISABLED);
    CHECK(tk_click(form, "TIFFOutputBox") == TK_OK);
    CHECK(expect_int(form, "TIFFOutputBox", TK_PROP_CHECKED, 1));
    CHECK(expect_int(form, "OutputPathEdit", TK_PROP_ENABLED, 1));
    CHECK(tk_type_text(form, "OutputPathEdit", "/tmp/out") == TK_OK);
    CHECK(tk_get_string(form, "OutputPathEdit", TK_PROP_TEXT, small, sizeof small) == 8);
    CHECK(strcmp(small, "/tm") == 0);
    CHECK(tk_get_int(form, "ColorMode", TK_PROP_CHECKED, &handled) == TK_ERR_UNSUPPORTED);

    /* An out-of-range value: warning colour, clamped value, refused by OK with an error box. */
    CHECK(tk_type_text(form, "CellSize", "300") == TK_OK);
    CHECK(expect_int(form, "CellSize", TK_PROP_TEXT_COLOR, 0x000080));
    CHECK(expect_string(form, "CellSize", TK_PROP_VALUE, "256"));
    CHECK(tk_get_string(form, "OutputPathEdit", TK_PROP_VALUE, NULL, 0) == TK_ERR_UNSUPPORTED);
    CHECK(tk_click(form, "OK") == TK_ERROR_SHOWN);
    CHECK(boxes->count == 1 && strcmp(boxes->caption, "Error") == 0);
    CHECK(strcmp(boxes->text, "Invalid value for field.") == 0);
    CHECK(boxes->default_result == TK_MR_OK);
}

static void drive_rest(tk_form* form, void* user) {
    int handled = -1;
    char table[4096];
#ifdef _WIN32
    const char* suffix = "toolkit_AutomationCTest.exe";
#else
    const char* suffix = "toolkit_AutomationCTest";
#endif
    size_t length;
    (void)user;

    /* The wheel over the unfocused field focuses and steps it. */
    CHECK(tk_type_text(form, "CellSize", "16") == TK_OK);
    CHECK(expect_int(form, "CellSize", TK_PROP_TEXT_COLOR, 0));
    CHECK(tk_click(form, "TIFFOutputBox") == TK_OK); /* focus away from the field */
    CHECK(tk_turn_wheel(form, "CellSize", TK_WHEEL_NOTCH, 0, &handled) == TK_OK);
    CHECK(handled == 1);
    CHECK(expect_string(form, "CellSize", TK_PROP_TEXT, "17"));
    CHECK(expect_int(form, "CellSize", TK_PROP_FOCUSED, 1));

    /* Press and hold while the clock runs: 7 repeats, then the release's click. */
    CHECK(tk_release(form, "Up", 0) == TK_ERR_NOT_PRESSED);
    CHECK(tk_press(form, "Up", 0) == TK_OK);
    tk_advance_clock(1000);
    CHECK(tk_release(form, "Up", 0) == TK_OK);
    CHECK(expect_string(form, "Counter", TK_PROP_CAPTION, "8"));

    /* A file dialog answered by its agent. */
    CHECK(tk_click(form, "Browse") == TK_OK);
    length = (size_t)tk_get_string(form, "TableEdit", TK_PROP_TEXT, table, sizeof table);
    CHECK(is_absolute(table) && length > strlen(suffix));
    CHECK(strcmp(table + length - strlen(suffix), suffix) == 0);

    /* Enter in the field presses the default button, which closes the form. */
    CHECK(tk_press_key(form, "CellSize", TK_KEY_RETURN, 0) == TK_OK);
    CHECK(tk_click(form, "Cancel") == TK_ERR_NO_FORM);
    CHECK(expect_int(form, NULL, TK_PROP_MODAL_RESULT, TK_MR_YES));
}

static void drive_all(tk_form* form, void* user) {
    drive(form, user);
    drive_rest(form, user);
}

int main(int argc, char** argv) {
    struct box_log boxes;
    void* form;
    int fake = 0;
    (void)argc;
    memset(&boxes, 0, sizeof boxes);
    chosen_file = argv[0]; /* the program itself: a file that surely exists */

    form = ctest_form_create();
    if (!form) {
        fprintf(stderr, "cannot build the test form\n");
        return 1;
    }
    tk_set_message_box_agent(answer_box, &boxes);
    tk_set_file_dialog_agent(choose_file, NULL);
    tk_set_form_agent(drive_all, &boxes);
    CHECK(ctest_form_show(form) == TK_MR_YES);

    /* Without a form agent the form closes with Cancel. */
    tk_set_form_agent(NULL, NULL);
    CHECK(ctest_form_show(form) == TK_MR_CANCEL);
    ctest_form_destroy(form);

    /* Handles that name no live form are refused. */
    CHECK(tk_click((tk_form*)&fake, "OK") == TK_ERR_NO_FORM);
    CHECK(tk_get_string((tk_form*)form, NULL, TK_PROP_CAPTION, NULL, 0) == TK_ERR_NO_FORM);
    CHECK(tk_type_text(NULL, "CellSize", NULL) == TK_ERR_ARGUMENT);
    CHECK(tk_screen_cursor() == 0);

    tk_set_message_box_agent(NULL, NULL);
    tk_set_file_dialog_agent(NULL, NULL);
    if (failures)
        fprintf(stderr, "%d check(s) failed\n", failures);
    else
        printf("automation from C: all checks passed\n");
    return failures ? 1 : 0;
}
