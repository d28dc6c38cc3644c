/* Drives the installer's own dialogs (Wine's msi dialogs, window class "MsiDialog..."):
 * records each new dialog's title, texts, buttons and the plain text of its rich-edit
 * controls (ScrollableText) as one JSON line, lets the harness take a screenshot, then
 * presses the first button found of: "&Install", "&Next >", "&Finish", "OK".
 *   e2e-uidrive.exe <record-file> <stop-file> [cancel-at-dialog-number]
 * With a number n, the n-th dialog is left with its Cancel button instead.
 * After writing dialog n it waits (at most 10 s) for "<record-file>.<n>.ack". It stops
 * when the stop file exists. Output is ASCII: everything else is written as \uXXXX. */
#include <windows.h>
#include <stdio.h>
#include <stdlib.h>
#include <wchar.h>

#include "helpers.h"

#define MAX_DIALOGS 32
#define MAX_ITEMS 32
#define TEXT_MAX 65536

typedef struct {
    wchar_t texts[MAX_ITEMS][512];
    int text_count;
    wchar_t buttons[MAX_ITEMS][128];
    HWND button_windows[MAX_ITEMS];
    int button_count;
    wchar_t rich[TEXT_MAX];
} DialogContent;

static HWND g_found[MAX_DIALOGS];
static int g_found_count;

static BOOL CALLBACK collect_dialog(HWND hwnd, LPARAM unused) {
    (void)unused;
    wchar_t cls[64];
    if (!IsWindowVisible(hwnd) || !GetClassNameW(hwnd, cls, 64) || wcsncmp(cls, L"MsiDialog", 9) != 0) return TRUE;
    if (g_found_count < MAX_DIALOGS) g_found[g_found_count++] = hwnd;
    return TRUE;
}

static BOOL CALLBACK collect_control(HWND child, LPARAM param) {
    DialogContent *d = (DialogContent *)param;
    wchar_t cls[64];
    if (!GetClassNameW(child, cls, 64) || !IsWindowVisible(child)) return TRUE;
    if (_wcsnicmp(cls, L"RichEdit", 8) == 0) {
        LRESULT n = SendMessageW(child, WM_GETTEXTLENGTH, 0, 0);
        if (n > 0 && n < TEXT_MAX - 1) SendMessageW(child, WM_GETTEXT, TEXT_MAX, (LPARAM)d->rich);
    } else if (_wcsicmp(cls, L"Button") == 0 && d->button_count < MAX_ITEMS) {
        GetWindowTextW(child, d->buttons[d->button_count], 128);
        d->button_windows[d->button_count++] = child;
    } else if (_wcsicmp(cls, L"Static") == 0 && d->text_count < MAX_ITEMS) {
        GetWindowTextW(child, d->texts[d->text_count], 512);
        if (d->texts[d->text_count][0]) d->text_count++;
    }
    return TRUE;
}


static HWND button_named(DialogContent *d, const wchar_t *name) {
    for (int i = 0; i < d->button_count; ++i)
        if (wcscmp(d->buttons[i], name) == 0) return d->button_windows[i];
    return NULL;
}

int wmain(int argc, wchar_t **argv) {
    if (argc < 3) {
        fwprintf(stderr, L"usage: e2e-uidrive.exe <record-file> <stop-file> [cancel-at]\n");
        return 2;
    }
    const wchar_t *record = argv[1], *stop = argv[2];
    int cancel_at = argc > 3 ? (int)wcstol(argv[3], NULL, 10) : 0;
    static const wchar_t *forward[] = {L"&Install", L"&Next >", L"&Finish", L"OK"};
    HWND handled[MAX_DIALOGS];
    int handled_count = 0, dialogs = 0;
    while (!file_exists(stop)) {
        g_found_count = 0;
        EnumWindows(collect_dialog, 0);
        for (int f = 0; f < g_found_count; ++f) {
            HWND hwnd = g_found[f];
            int seen = 0;
            for (int h = 0; h < handled_count; ++h) seen |= handled[h] == hwnd;
            if (seen) continue;
            Sleep(300);  /* let the dialog finish drawing before it is read and photographed */
            static DialogContent d;
            ZeroMemory(&d, sizeof d);
            wchar_t title[512] = L"";
            GetWindowTextW(hwnd, title, 512);
            EnumChildWindows(hwnd, collect_control, (LPARAM)&d);
            ++dialogs;
            HWND press = NULL;
            const wchar_t *pressed = L"";
            if (dialogs == cancel_at) {
                press = button_named(&d, L"Cancel");
                pressed = L"Cancel";
            }
            for (int i = 0; !press && i < 4; ++i) {
                press = button_named(&d, forward[i]);
                pressed = forward[i];
            }
            FILE *out = _wfopen(record, L"a");
            if (out) {
                fprintf(out, "{\"n\": %d, \"title\": ", dialogs);
                put_json_string(out, title);
                fprintf(out, ", \"texts\": [");
                for (int i = 0; i < d.text_count; ++i) {
                    if (i) fprintf(out, ", ");
                    put_json_string(out, d.texts[i]);
                }
                fprintf(out, "], \"buttons\": [");
                for (int i = 0; i < d.button_count; ++i) {
                    if (i) fprintf(out, ", ");
                    put_json_string(out, d.buttons[i]);
                }
                fprintf(out, "], \"scrollable_text\": ");
                put_json_string(out, d.rich);
                fprintf(out, ", \"pressed\": ");
                put_json_string(out, press ? pressed : L"");
                fprintf(out, "}\n");
                fclose(out);
            }
            wchar_t ack[MAX_PATH + 32];
            _snwprintf(ack, MAX_PATH + 31, L"%ls.%d.ack", record, dialogs);
            ack[MAX_PATH + 31] = 0;
            for (int waited = 0; waited < 10000 && !file_exists(ack) && !file_exists(stop); waited += 20) Sleep(20);
            if (press) PostMessageW(press, BM_CLICK, 0, 0);
            for (int waited = 0; waited < 3000 && IsWindow(hwnd) && IsWindowVisible(hwnd); waited += 20) Sleep(20);
            /* A window that is gone may lend its handle to the next dialog. */
            if (IsWindow(hwnd) && handled_count < MAX_DIALOGS) handled[handled_count++] = hwnd;
        }
        Sleep(50);
    }
    return 0;
}
