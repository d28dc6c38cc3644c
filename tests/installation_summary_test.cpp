// The summary text: what each product shows, which features are listed, the disk space
// in megabytes, and how lines are laid out and cut.
#include "fixture.h"
#include "frame/custom_action_context.h"
#include "frame/ure.h"
#include "response/installation_summary.h"

#include <gmock/gmock.h>

#include <memory>
#include <tuple>

using namespace fa9test;

namespace {

const char* const kProductName = "FA9 Tools for Visual Studio";
const std::string kBlank(40, ' '), kDir = "Installation directory", kToolsDir = "C:\\Program Files\\FA9\\Tools";

// A label padded to 40 columns, three blanks and the value.
std::string labelled(const std::string& label, const std::string& value) {
    return label + std::string(label.size() < 40 ? 40 - label.size() : 0, ' ') + "   " + value;
}
// Expected lines written short: "" a blank line, "Label:" a heading, "Label=value" a line.
std::vector<std::string> expand(const std::vector<std::string>& lines) {
    std::vector<std::string> out;
    for (const std::string& l : lines) {
        const size_t eq = l.find('='), n = l.size() - 1;
        out.push_back(l.empty() ? kBlank : eq != std::string::npos ? labelled(l.substr(0, eq), l.substr(eq + 1))
                                                                  : l.substr(0, n) + std::string(40 - n, ' '));
    }
    return out;
}

class SummaryText : public SessionTest {
protected:
    SummaryText() {
        installRuntime(stringLibrary("en_US"));
        session.setProperty("INSTALLDIR", "C:\\Program Files\\FA9\\Tools\\");
        session.setProperty("ProductName", kProductName);
        session.database().createTable("Feature", {"Feature", "Feature_Parent", "Title", "Description", "Display",
                                                   "Level", "Directory_", "Attributes"});
    }
    ~SummaryText() override { context.reset(); }
    // A fresh engine with the product code the response-file set-up would give this package.
    void answers(const std::string& text, const char* product) {
        context.reset();
        machine.writeFile("C:\\setup\\answers.rsp", text);
        context = std::make_unique<CustomActionContext>(session.handle());
        ASSERT_EQ(0, URE::instance()->setResponseFile("C:\\setup\\answers.rsp", 0));
        URE::instance()->setProductCode(product);
    }
    std::string build(size_t size = 10000) {
        std::vector<char> out(size, 'x');
        EXPECT_EQ(0u, URE::instance()->buildSummaryText(out.data(), size, session.handle()));
        EXPECT_EQ(0u, URE::instance()->summaryLength()) << "the engine's text is emptied";
        return std::string(out.data());
    }
    std::vector<std::string> lines() {
        const std::string text = build();
        std::vector<std::string> out;
        size_t start = 0;
        for (size_t end; (end = text.find("\r\n", start)) != std::string::npos; start = end + 2)
            out.push_back(text.substr(start, end - start));
        EXPECT_EQ(start, text.size()) << "every line ends with CR LF";
        return out;
    }

    std::unique_ptr<CustomActionContext> context;
};

// Only leaf features are listed, not one titled like the product (in any case) nor one not
// displayed; the installed copy's path wins over INSTALLDIR. Without ProductName the line is
// empty (the runtime client has its own name); an absent keyword is not true; no catalog
// condition, no catalog line; a configuration-only file lists no features, folder or space.
TEST_F(SummaryText, ShowsTheLinesOfItsProduct) {
    machine.registry().setString(winsim::Hive::LocalMachine, "SOFTWARE\\WOW6432Node\\ZNK\\FA9\\InstalledCopies\\COPY7",
                                 "FA9 Path Name", "D:\\FA9\\COPY7\\");
    const std::string product = std::string("Product=") + kProductName, dir = kDir + "=" + kToolsDir;
    const struct {
        const char* label;
        std::vector<std::vector<std::string>> features;               // name, parent, title, display level
        std::vector<std::pair<std::string, const char*>> properties;  // null: removed
        std::string answers;
        std::vector<std::string> lines;
    } rows[] = {
        {"tools",
         {{"Product", "", kProductName, "1"}, {"AddIns", "Product", "Add-ins", "3"},
          {"Templates", "Product", "Project templates", "5"}, {"Samples", "Templates", "Sample projects", "7"},
          {"Main", "", "fa9 TOOLS FOR visual studio", "1"}, {"Hidden", "Product", "Hidden", "0"}},
         {{"PrimaryVolumeSpaceRequired", "20480"}, {"FA9_COPY_NAME", "COPY7"}}, "PROD=WOLT_TOOLS\n",
         {"", product, "Features to be installed:", "    Add-ins=", "    Sample projects=", "",
          kDir + "=D:\\FA9\\COPY7"}},
        {"driver", {}, {{"p_default_min_for_catalog_mig_exists", "1"}, {"PrimaryVolumeSpaceRequired", "4096"}},
         "PROD=PELA_DRIVER\nFA9_COPY_NAME=COPY2\nDEFAULT_CLIENT_INTERFACE_COPY=yes\nMIGRATE_CATALOG_TO_XML=NO\n",
         {"", product, "", "Copy name=COPY2", "Default client interface copy=Yes", "Catalog migration to XML=No", "",
          "", dir, "", "Required disk space=2 MB"}},
        {"driver without catalog condition or product name", {}, {{"ProductName", nullptr}},
         "PROD=PELA_DRIVER\nFA9_COPY_NAME=COPY2\n",
         {"", "Product=", "", "Copy name=COPY2", "Default client interface copy=No", "", "", dir, "",
          "Required disk space=0 MB"}},
        {"runtime client: type, copy and instances", {},
         {{"ProductName", nullptr}, {"PrimaryVolumeSpaceRequired", "0"}},
         "PROD=MORV_CLIENT\nINSTALL_TYPE=typical\nTYPICAL_OPTION=SATELLITE_ADMIN\nFA9_COPY_NAME=FA9COPY1\n"
         "DEFAULT_COPY=1\nINSTANCE=inst1\nINST1.NAME=first\nINSTANCE=INST2\nINSTANCE=INST3\nINST3.NAME=third\n",
         {"", "Product=FA9 Runtime Client", "Installation type=Typical",
          "    Typical installation option=Satellite administration", "", "Copy name=FA9COPY1", "Default copy=Yes",
          "Default client interface copy=No", "", "", dir, "", "Required disk space=0 MB", "", "Instances:",
          "    Instance name=FIRST", "    Instance name=THIRD"}},
        {"configuration only", {{"Docs", "", "Documentation", "1"}}, {},
         "PROD=MORV_CLIENT\nCONFIG_ONLY=YES\nINSTALL_TYPE=COMPACT\nFA9_COPY_NAME=C1\nINSTANCE=I1\nI1.NAME=x1\n",
         {"", product, "Installation type=Compact", "", "Copy name=C1", "Default copy=No",
          "Default client interface copy=No", "", "", "Instances:", "    Instance name=X1"}},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.label);
        session.database().rows("Feature").clear();
        for (const auto& f : row.features) addFeature(session, f[0], f[1], f[2], std::stoi(f[3]));
        session.setProperty("ProductName", kProductName);
        for (const char* name : {"PrimaryVolumeSpaceRequired", "FA9_COPY_NAME", "p_default_min_for_catalog_mig_exists"})
            session.removeProperty(name);
        for (const auto& [name, value] : row.properties)
            value ? session.setProperty(name, value) : session.removeProperty(name);
        const std::string prod = row.answers.substr(5, row.answers.find('\n') - 5);
        answers(row.answers, prod.c_str());
        EXPECT_EQ(lines(), expand(row.lines));
    }
}

// To be installed: not local yet, going local; to be removed: local, going absent; any
// other pair is listed nowhere. One heading each, the features in table order.
TEST_F(SummaryText, FeaturesAreListedUnderTheHeadingOfTheirStates) {
    const std::tuple<const char*, INSTALLSTATE, INSTALLSTATE> states[] = {
        {"Zeta", INSTALLSTATE_ABSENT, INSTALLSTATE_LOCAL},  {"Alpha", INSTALLSTATE_LOCAL, INSTALLSTATE_ABSENT},
        {"Beta", INSTALLSTATE_UNKNOWN, INSTALLSTATE_LOCAL}, {"Kept", INSTALLSTATE_LOCAL, INSTALLSTATE_LOCAL},
        {"Same", INSTALLSTATE_LOCAL, INSTALLSTATE_UNKNOWN}, {"Source", INSTALLSTATE_ABSENT, INSTALLSTATE_SOURCE}};
    for (const auto& [name, installed, action] : states)
        addFeature(session, name, "", name + std::string(" tools"), 2, installed, action);
    answers("PROD=WOLT_TOOLS\n", "WOLT_TOOLS");
    std::vector<std::string> got = lines();
    EXPECT_EQ(std::vector<std::string>(got.begin() + 2, got.end() - 2),
              expand({"Features to be installed:", "    Zeta tools=", "    Beta tools=", "Features to be removed:",
                      "    Alpha tools="}));
}

// The installer's 512-byte units in whole megabytes, cut; anything short of one is one.
TEST_F(SummaryText, RequiredSpaceIsShownInWholeMegabytes) {
    answers("PROD=PELA_DRIVER\nFA9_COPY_NAME=C1\n", "PELA_DRIVER");
    const std::pair<const char*, const char*> rows[] = {{"2", "1 MB"}, {"10000", "4 MB"}, {"-10000", "-4 MB"}};
    for (const auto& [units, shown] : rows) {
        SCOPED_TRACE(units);
        session.setProperty("PrimaryVolumeSpaceRequired", units);
        EXPECT_EQ(labelled("Required disk space", shown), lines().back());
    }
}

TEST_F(SummaryText, LongLinesAreKeptWholeAndTheTextIsCutAtTheBuffer) {
    answers("PROD=WOLT_TOOLS\n", "WOLT_TOOLS");
    const std::string label(45, 'L');
    URE::instance()->addToSummaryString(label.c_str(), "value", 0);
    URE::instance()->addToSummaryString("Exactly forty characters long, as wanted", "v", 0);
    URE::instance()->addToSummaryString("Heading", nullptr, 4);
    EXPECT_EQ(label + "   value\r\nExactly forty characters long, as wanted   v\r\n    Heading" + std::string(29, ' ') +
                  "\r\n",
              std::string(URE::instance()->summaryText()));
    URE::instance()->clearSummaryText();
    // A summary longer than the buffer is cut to one byte less.
    for (int i = 1000; i < 1300; ++i)
        addFeature(session, "F" + std::to_string(i), "", "Feature number " + std::to_string(i), 1);
    const std::string full = build(100000);
    ASSERT_GT(full.size(), 10000u);
    const std::string cut = build(10000);
    EXPECT_EQ(9999u, cut.size());
    EXPECT_EQ(full.substr(0, 9999), cut);
}

}  // namespace
