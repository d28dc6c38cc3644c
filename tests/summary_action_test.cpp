// AddSummaryCA end to end: the response file written afresh, the summary rendered as
// RTF by the rich-edit control, and one temporary `setting` control in the Summary
// dialog; and the RTF conversion it stands on.
#include "fixture.h"

#include "actions/exports.h"
#include "frame/custom_action_context.h"
#include "response/rtf_conversion.h"
#include "session/control_table.h"

#include <gmock/gmock.h>

#include <cctype>
#include <cstring>
#include <string>
#include <memory>

using fa9test::logged;
using fa9test::SessionTest;
using winsim::Cell;

namespace {

const char* const kTemp = "C:\\Users\\setup\\AppData\\Local\\Temp";
const char* const kSystemRichEdit = "C:\\Windows\\System32\\riched20.dll";

// The smallest PE32 DLL the loader accepts: headers only, no sections, no exports.
std::string minimalDll() {
    std::string b(0x40 + 24 + 96, '\0');
    auto put16 = [&b](size_t at, unsigned v) {
        b[at] = char(v & 0xFF);
        b[at + 1] = char(v >> 8);
    };
    b[0] = 'M';
    b[1] = 'Z';
    put16(0x3C, 0x40);
    std::memcpy(&b[0x40], "PE\0\0", 4);
    put16(0x44, 0x14C);        // i386
    put16(0x40 + 20, 96);      // optional header without data directories
    put16(0x40 + 22, 0x2102);  // executable, 32-bit, DLL
    put16(0x40 + 24, 0x10B);   // PE32
    return b;
}

// The text an RTF document shows: paragraphs end in CR LF, \'hh is a byte of the code
// page, the font table and other destinations are skipped.
std::string rtfToText(const std::string& rtf) {
    std::string out;
    int depth = 0;
    int skipDepth = 0;  // inside a destination group when > 0
    for (size_t i = 0; i < rtf.size(); ++i) {
        char c = rtf[i];
        if (c == '{') {
            ++depth;
            if (!skipDepth && rtf.compare(i + 1, 8, "\\fonttbl") == 0) skipDepth = depth;
        } else if (c == '}') {
            if (skipDepth == depth) skipDepth = 0;
            --depth;
        } else if (c == '\\' && i + 1 < rtf.size()) {
            char n = rtf[++i];
            if (n == '\\' || n == '{' || n == '}') {
                if (!skipDepth) out += n;
            } else if (n == '\'') {
                if (!skipDepth) out += char(std::stoi(rtf.substr(i + 1, 2), nullptr, 16));
                i += 2;
            } else {
                size_t start = i;
                while (i < rtf.size() && std::isalpha(static_cast<unsigned char>(rtf[i]))) ++i;
                std::string word = rtf.substr(start, i - start);
                while (i < rtf.size() && (std::isdigit(static_cast<unsigned char>(rtf[i])) || rtf[i] == '-')) ++i;
                if (i >= rtf.size() || rtf[i] != ' ') --i;  // a blank after a control word belongs to it
                if (skipDepth) continue;
                if (word == "par") out += "\r\n";
                if (word == "tab") out += "\t";
            }
        } else if (c != '\r' && c != '\n' && !skipDepth) {
            out += c;
        }
    }
    return out;
}

// Braces balance, never close more than they opened, and the document is one group.
bool bracesBalance(const std::string& rtf) {
    int depth = 0;
    for (size_t i = 0; i < rtf.size(); ++i) {
        if (rtf[i] == '\\') {
            ++i;
            continue;
        }
        if (rtf[i] == '{') ++depth;
        if (rtf[i] == '}' && --depth < 0) return false;
        if (depth == 0 && i + 1 < rtf.size() && rtf.find_first_not_of("\r\n", i + 1) != std::string::npos)
            return false;
    }
    return depth == 0;
}

struct Control {
    std::string dialog, name, type;
    int x = 0, y = 0, width = 0, height = 0, attributes = 0;
    bool propertyNull = false;
    std::string text;
};

class SummaryActionTest : public SessionTest {
protected:
    SummaryActionTest() {
        installRuntime(fa9test::stringLibrary("en_US"));
        machine.writeFile(kSystemRichEdit, minimalDll());
        session.setProperty("UILevel", "5");
        session.setProperty("TempFolder", std::string(kTemp) + "\\");
        session.setProperty("PROP_RSP_PROD", "WOLT_TOOLS");
        session.setProperty("ProductName", "FA9 Tools");
        session.setProperty("INSTALLDIR", "C:\\FA9\\");
        auto& db = session.database();
        db.createTable("Feature", {"Feature", "Feature_Parent", "Title", "Description", "Display", "Level",
                                   "Directory_", "Attributes"});
        db.insertRow("Feature", {Cell::str("AddIns"), Cell::null(), Cell::str("Add-ins {and} tools"), Cell::null(),
                                 Cell::integer(1), Cell::integer(1), Cell::str("INSTALLDIR"), Cell::integer(0)});
        session.setFeatureState("AddIns", INSTALLSTATE_ABSENT, INSTALLSTATE_LOCAL);
        db.createTable("Control", {"Dialog_", "Control", "Type", "X", "Y", "Width", "Height", "Attributes",
                                   "Property", "Text", "Control_Next", "Help"});
        db.insertRow("Control", {Cell::str("Summary"), Cell::str("Back"), Cell::str("PushButton"), Cell::integer(180),
                                 Cell::integer(243), Cell::integer(56), Cell::integer(17), Cell::integer(3),
                                 Cell::null(), Cell::str("< &Back"), Cell::str("Next"), Cell::null()});
    }

    std::vector<Control> settingControls() {
        std::vector<Control> found;
        for (const auto& row : session.database().rows("Control")) {
            if (row[1].text != "setting") continue;
            Control c;
            c.dialog = row[0].text;
            c.name = row[1].text;
            c.type = row[2].text;
            c.x = row[3].number;
            c.y = row[4].number;
            c.width = row[5].number;
            c.height = row[6].number;
            c.attributes = row[7].number;
            c.propertyNull = row[8].kind == Cell::Kind::Null;
            c.text = row[9].text;
            found.push_back(c);
        }
        return found;
    }

    std::string summaryLine(const std::string& label, const std::string& value) {
        return label + std::string(40 - label.size(), ' ') + "   " + value;
    }
};

TEST_F(SummaryActionTest, InsertsTheSummaryAsRtfIntoTheSummaryDialog) {
    ASSERT_EQ(0u, run(AddSummaryCA));
    std::vector<Control> controls = settingControls();
    ASSERT_EQ(1u, controls.size());
    const Control& c = controls[0];
    EXPECT_EQ("Summary", c.dialog);
    EXPECT_EQ("ScrollableText", c.type);
    EXPECT_EQ(47, c.x);
    EXPECT_EQ(120, c.y);
    EXPECT_EQ(394, c.width);
    EXPECT_EQ(181, c.height);
    EXPECT_EQ(7, c.attributes);
    EXPECT_TRUE(c.propertyNull);
    EXPECT_EQ(0u, c.text.rfind("{\\rtf1", 0));
    EXPECT_TRUE(bracesBalance(c.text));
    const std::string blank(40, ' ');
    EXPECT_EQ(blank + "\r\n" + summaryLine("Product", "FA9 Tools") + "\r\n" + "Features to be installed" +
                  std::string(16, ' ') + "\r\n" + summaryLine("    Add-ins {and} tools", "") + "\r\n" + blank +
                  "\r\n" + summaryLine("Installation directory", "C:\\FA9") + "\r\n\r\n",
              rtfToText(c.text));
    // The response file it was built from, written for this run.
    EXPECT_EQ(std::string(kTemp) + "\\FA9RL000.rsp", session.property("RSP_FILE_PATH"));
    EXPECT_TRUE(machine.openWindowClasses().empty()) << "the rich-edit window is gone";
    EXPECT_THAT(log(), testing::IsEmpty());
}

TEST_F(SummaryActionTest, RunningTwiceLeavesOneControlAndOneGeneratedFile) {
    ASSERT_EQ(0u, run(AddSummaryCA));
    session.setProperty("ProductName", "FA9 Tools 2");
    ASSERT_EQ(0u, run(AddSummaryCA));
    std::vector<Control> controls = settingControls();
    ASSERT_EQ(1u, controls.size());
    EXPECT_THAT(rtfToText(controls[0].text), testing::HasSubstr(summaryLine("Product", "FA9 Tools 2")));
    EXPECT_EQ(2u, session.database().rows("Control").size());
    // The first run's file was deleted, so the second took the same name again.
    EXPECT_EQ(std::string(kTemp) + "\\FA9RL000.rsp", session.property("RSP_FILE_PATH"));
    EXPECT_FALSE(machine.fileExists(std::string(kTemp) + "\\FA9RL001.rsp"));
}

TEST_F(SummaryActionTest, AFileTheUserNamedIsNotDeleted) {
    const std::string mine = "C:\\answers\\FA9RL000.rsp";
    machine.writeFile(mine, "PROD=WOLT_TOOLS\n");
    session.setProperty("RSP_FILE_PATH", mine);
    ASSERT_EQ(0u, run(AddSummaryCA));
    EXPECT_TRUE(machine.fileExists(mine));
    EXPECT_EQ(std::string(kTemp) + "\\FA9RL000.rsp", session.property("RSP_FILE_PATH"));
}

struct LanguageCase {
    const char* productLanguage;
    int attributes;
    bool rightToLeftRtf;
};

class SummaryLanguageTest : public SummaryActionTest, public testing::WithParamInterface<LanguageCase> {};

TEST_P(SummaryLanguageTest, ArabicTurnsTheControlAndTheTextRightToLeft) {
    session.setProperty("ProductLanguage", GetParam().productLanguage);
    ASSERT_EQ(0u, run(AddSummaryCA));
    std::vector<Control> controls = settingControls();
    ASSERT_EQ(1u, controls.size());
    EXPECT_EQ(GetParam().attributes, controls[0].attributes);
    EXPECT_EQ(GetParam().rightToLeftRtf, controls[0].text.find("\\rtlpar") != std::string::npos);
}

INSTANTIATE_TEST_SUITE_P(Languages, SummaryLanguageTest,
                         testing::Values(LanguageCase{"1025", 231, true},   // Arabic: ar_AA
                                         LanguageCase{"1033", 7, false},    // English
                                         LanguageCase{"1037", 7, false}));  // Hebrew: not among them

// Each fault: the action's result, the log line that names it, and how many `setting`
// controls (with or without text) are left in the dialog.
struct SummaryFault {
    const char* name;
    void (*arrange)(winsim::Machine&, winsim::Session&);
    UINT rc;
    std::string line;
    size_t controls;
    bool withText;
    size_t boxes;  // shown errors; an installer operation's failure is logged only
};
void PrintTo(const SummaryFault& c, std::ostream* os) { *os << c.name; }

class SummaryFaults : public SummaryActionTest, public testing::WithParamInterface<SummaryFault> {};

TEST_P(SummaryFaults, AreLoggedAndDecideTheResult) {
    const SummaryFault& c = GetParam();
    c.arrange(machine, session);
    EXPECT_EQ(c.rc, run(AddSummaryCA));
    EXPECT_THAT(log(), testing::Contains(logged(c.line)));
    const std::vector<Control> controls = settingControls();
    ASSERT_EQ(c.controls, controls.size());
    if (!controls.empty()) {
        EXPECT_EQ(c.withText, !controls[0].text.empty());
    }
    EXPECT_EQ(c.boxes, machine.messageBoxes.size());
}

INSTANTIATE_TEST_SUITE_P(
    Faults, SummaryFaults,
    testing::Values(
        SummaryFault{"without_rich_edit_the_control_has_no_text",
                     [](winsim::Machine& m, winsim::Session&) { m.writeFile(kSystemRichEdit, "not a program"); }, 0u,
                     "Error: The library riched20.dll could not be loaded (system error code 193), so the "
                     "installation summary cannot be shown.",
                     1, false, 2},
        // The deletion fails, and the row it should have removed makes the insertion fail on its key.
        SummaryFault{"a_failed_insertion_is_the_result",
                     [](winsim::Machine&, winsim::Session& s) {
                         s.database().failExecute("Control", ERROR_FUNCTION_FAILED);
                         s.database().insertRow("Control", {Cell::str("Summary"), Cell::str("setting")});
                     },
                     static_cast<UINT>(ERROR_FUNCTION_FAILED), "Error: An installer operation failed: iAddControl:1627.",
                     1, false, 1},
        SummaryFault{"without_database_the_control_steps_succeed",
                     [](winsim::Machine&, winsim::Session& s) { s.database().available = false; }, 0u,
                     "Error: The installation database could not be accessed. Please contact your technical service "
                     "representative.",
                     0, false, 0},
        SummaryFault{"a_response_file_that_cannot_be_set_up_stops_the_action",
                     [](winsim::Machine&, winsim::Session& s) { s.failGetProperty("TempFolder", ERROR_MORE_DATA); },
                     1603u,
                     "Error: The response file could not be set up. Check the preceding lines of this log, correct "
                     "the response file or the RSP_FILE_PATH property, and run the installation again.",
                     0, false, 2},
        // The user's file stays named, so the summary is built from it.
        SummaryFault{"a_failed_reset_of_the_path_goes_on",
                     [](winsim::Machine& m, winsim::Session& s) {
                         m.writeFile("C:\\answers\\mine.rsp", "PROD=WOLT_TOOLS\n");
                         s.setProperty("RSP_FILE_PATH", "C:\\answers\\mine.rsp");
                         s.failSetProperty("RSP_FILE_PATH", 1605);
                     },
                     0u, "Error: An installer operation failed: iMsiSetProperty:1605.", 1, true, 0}),
    [](const testing::TestParamInfo<SummaryFault>& i) { return std::string(i.param.name); });

// ---- RTF conversion ----

class RtfTest : public SessionTest {
protected:
    RtfTest() {
        installRuntime(fa9test::stringLibrary("en_US"));
        machine.writeFile(kSystemRichEdit, minimalDll());
    }
    std::string convert(const std::string& text, bool rightToLeft = false) {
        CustomActionContext context(session.handle());
        char* rtf = nullptr;
        EXPECT_EQ(0u, liteConvertTextToRtf(text.c_str(), &rtf, rightToLeft));
        std::unique_ptr<char[]> owned(rtf);
        return rtf ? std::string(rtf) : std::string();
    }
};

class RtfRoundTripTest : public RtfTest, public testing::WithParamInterface<std::string> {};

TEST_P(RtfRoundTripTest, RtfShowsTheTextLineByLine) {
    const std::string rtf = convert(GetParam());
    EXPECT_EQ(0u, rtf.rfind("{\\rtf1", 0));
    EXPECT_TRUE(bracesBalance(rtf)) << rtf;
    // The control ends the last paragraph too.
    EXPECT_EQ(GetParam() + "\r\n", rtfToText(rtf));
}

INSTANTIATE_TEST_SUITE_P(Texts, RtfRoundTripTest,
                         testing::Values(std::string("Product   FA9"), std::string("{braces} and \\ backslash }{"),
                                         std::string("first\r\nsecond"), std::string("caf\xe9 \xe4\xf6\xfc"),
                                         std::string("tab\there"), std::string(""),
                                         // Many pieces: the output buffer grows while streaming.
                                         std::string(30000, 'a') + "{" + std::string(30000, '\\')));

}  // namespace
