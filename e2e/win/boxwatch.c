/* Watches the Wine desktop for message boxes (dialog class "#32770"), records each
 * one's title, text, buttons and place on the screen as one JSON line, lets the harness take a
 * screenshot, then presses a button. Runs in the same prefix as msiexec.
 *   e2e-boxwatch.exe <record-file> <stop-file> [answer,answer,...]
 * Answers are button ids (1 OK, 2 Cancel, 3 Abort, 4 Retry, 5 Ignore, 6 Yes, 7 No),
 * used in order, one per box; without one the box's default button is pressed.
 * After writing box n the watcher waits (at most 10 s) for "<record-file>.<n>.ack",
 * which the harness creates once its screenshot is taken. It stops when the stop file
 * exists. Output is ASCII: everything else is written as \uXXXX. */
#include <windows.h>
#include <stdio.h>
#include <stdlib.h>
#include <wchar.h>

#include "helpers.h"

#define MAX_BOXES 64
#define MAX_BUTTONS 8

typedef struct {
    wchar_t text[4096];
    int button_ids[MAX_BUTTONS];
    wchar_t button_texts[MAX_BUTTONS][128];
    HWND buttons[MAX_BUTTONS];
    int button_count;
} BoxContent;

static HWND g_found[MAX_BOXES];
static int g_found_count;

static BOOL CALLBACK collect_box(HWND hwnd, LPARAM unused) {
    (void)unused;
    wchar_t cls[64];
    if (!IsWindowVisible(hwnd) || !GetClassNameW(hwnd, cls, 64) || wcscmp(cls, L"#32770") != 0) return TRUE;
    if (g_found_count < MAX_BOXES) g_found[g_found_count++] = hwnd;
    return TRUE;
}

static BOOL CALLBACK collect_control(HWND child, LPARAM param) {
    BoxContent *box = (BoxContent *)param;
    wchar_t cls[64], text[4096];
    if (!GetClassNameW(child, cls, 64)) return TRUE;
    GetWindowTextW(child, text, 4096);
    if (_wcsicmp(cls, L"Static") == 0) {
        LONG style = GetWindowLongW(child, GWL_STYLE);
        if ((style & SS_TYPEMASK) == SS_ICON || text[0] == 0) return TRUE;
        if (box->text[0]) wcsncat(box->text, L"\n", 4095 - wcslen(box->text));
        wcsncat(box->text, text, 4095 - wcslen(box->text));
    } else if (_wcsicmp(cls, L"Button") == 0 && IsWindowVisible(child) && box->button_count < MAX_BUTTONS) {
        int i = box->button_count++;
        box->buttons[i] = child;
        box->button_ids[i] = GetDlgCtrlID(child);
        wcsncpy(box->button_texts[i], text, 127);
        box->button_texts[i][127] = 0;
    }
    return TRUE;
}


int wmain(int argc, wchar_t **argv) {
    if (argc < 3) {
        fwprintf(stderr, L"usage: e2e-boxwatch.exe <record-file> <stop-file> [answers]\n");
        return 2;
    }
    const wchar_t *record = argv[1], *stop = argv[2];
    int answers[MAX_BOXES], answer_count = 0, next_answer = 0, boxes = 0;
    if (argc > 3) {
        for (wchar_t *p = argv[3]; *p && answer_count < MAX_BOXES;) {
            answers[answer_count++] = (int)wcstol(p, &p, 10);
            while (*p == L',') ++p;
        }
    }
    HWND handled[MAX_BOXES];
    int handled_count = 0;
    while (!file_exists(stop)) {
        g_found_count = 0;
        EnumWindows(collect_box, 0);
        for (int b = 0; b < g_found_count; ++b) {
            HWND hwnd = g_found[b];
            int seen = 0;
            for (int h = 0; h < handled_count; ++h) seen |= handled[h] == hwnd;
            if (seen) continue;
            Sleep(150);  /* let the box finish drawing before it is read and photographed */
            static BoxContent box;
            ZeroMemory(&box, sizeof box);
            wchar_t title[1024] = L"";
            GetWindowTextW(hwnd, title, 1024);
            EnumChildWindows(hwnd, collect_control, (LPARAM)&box);
            int press = -1;
            if (next_answer < answer_count) press = answers[next_answer++];
            if (press < 0) {
                LRESULT def = SendMessageW(hwnd, DM_GETDEFID, 0, 0);
                press = HIWORD(def) == DC_HASDEFID ? LOWORD(def) : (box.button_count ? box.button_ids[0] : IDOK);
            }
            ++boxes;
            FILE *out = _wfopen(record, L"a");
            if (out) {
                fprintf(out, "{\"n\": %d, \"title\": ", boxes);
                put_json_string(out, title);
                fprintf(out, ", \"text\": ");
                put_json_string(out, box.text);
                fprintf(out, ", \"buttons\": [");
                for (int i = 0; i < box.button_count; ++i) {
                    fprintf(out, "%s{\"id\": %d, \"text\": ", i ? ", " : "", box.button_ids[i]);
                    put_json_string(out, box.button_texts[i]);
                    fprintf(out, "}");
                }
                /* where the box stands, to check it was placed on the screen */
                RECT rc = {0};
                GetWindowRect(hwnd, &rc);
                fprintf(out, "], \"rect\": [%ld, %ld, %ld, %ld], \"screen\": [%d, %d], \"pressed\": %d}\n",
                        rc.left, rc.top, rc.right, rc.bottom, GetSystemMetrics(SM_CXSCREEN),
                        GetSystemMetrics(SM_CYSCREEN), press);
                fclose(out);
            }
            wchar_t ack[MAX_PATH + 32];
            _snwprintf(ack, MAX_PATH + 31, L"%ls.%d.ack", record, boxes);
            ack[MAX_PATH + 31] = 0;
            for (int waited = 0; waited < 10000 && !file_exists(ack) && !file_exists(stop); waited += 20) Sleep(20);
            HWND button = GetDlgItem(hwnd, press);
            PostMessageW(hwnd, WM_COMMAND, MAKEWPARAM(press, BN_CLICKED), (LPARAM)button);
            for (int waited = 0; waited < 5000 && IsWindow(hwnd); waited += 20) Sleep(20);
            if (IsWindow(hwnd) && handled_count < MAX_BOXES) handled[handled_count++] = hwnd;
        }
        Sleep(50);
    }
    return 0;
}
