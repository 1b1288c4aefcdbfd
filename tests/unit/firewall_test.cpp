#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "engine_test_support.h"
#include "fake/fake_firewall.h"
#include "fake/fake_shell.h"
#include "product/firewall.h"
#include "product/install_process.h"

namespace fake {
// Readable failure output for the fake's records (their texts are ASCII in these tests).
inline std::string Narrow(const std::u16string& text) { return std::string(text.begin(), text.end()); }
inline void PrintTo(const CFakeFirewall::Rule& r, std::ostream* out) {
    *out << "{" << Narrow(r.name) << " | " << Narrow(r.description) << " | " << Narrow(r.applicationName) << " | proto "
         << r.protocol << " dir " << r.direction << " prof " << r.profiles << " action " << r.action
         << (r.enabled ? " enabled}" : " disabled}");
}
inline void PrintTo(const CFakeFirewall::AuthorizedApplication& a, std::ostream* out) {
    *out << "{" << Narrow(a.imageFileName) << " | " << Narrow(a.name) << (a.enabled ? " enabled}" : " disabled}");
}
}  // namespace fake

using enginetest::Raised;
using enginetest::RaisedBy;
using Rule = fake::CFakeFirewall::Rule;
using App = fake::CFakeFirewall::AuthorizedApplication;

namespace {

const std::u16string PATH = u"C:\\Windows\\system32\\tessaportwssrv.exe";
const std::u16string NAME = u"Tessaport RDP Edition Workstation Service";
const std::u16string OUT_NAME = u"Tessaport RDP Edition Workstation Service (Out)";
constexpr std::uint32_t NO_MEMORY = 0x8007000Eu;
constexpr std::uint32_t ACCESS_DENIED = 0x80070005u;

Rule OurRule(os::LONG direction) {
    Rule r;
    r.name = direction == os::NET_FW_RULE_DIR_IN ? NAME : OUT_NAME;
    r.description = r.name;
    r.applicationName = PATH;
    r.protocol = os::NET_FW_IP_PROTOCOL_TCP;
    r.direction = direction;
    r.profiles = os::NET_FW_PROFILE2_ALL;
    r.action = os::NET_FW_ACTION_ALLOW;
    r.enabled = true;
    return r;
}

// A rule the user made for the program and then switched off.
Rule UserRule(const std::u16string& application, os::LONG direction) {
    Rule r;
    r.name = u"Custom rule";
    r.description = u"made by hand";
    r.applicationName = application;
    r.protocol = os::NET_FW_IP_PROTOCOL_UDP;
    r.direction = direction;
    r.profiles = os::NET_FW_PROFILE2_PRIVATE;
    r.action = os::NET_FW_ACTION_BLOCK;
    r.enabled = false;
    return r;
}

class Firewall : public ::testing::Test {
protected:
    std::optional<Raised> Allow() {
        return RaisedBy([] {
            CFirewall firewall;
            firewall.AllowApplication(PATH, NAME);
        });
    }
    fake::CFakeFirewall& Fw() { return machine.firewall; }
    std::vector<App> Listed(os::LONG profile = os::NET_FW_PROFILE_STANDARD) {
        return machine.firewall.authorizedApplications[profile];
    }

    // Every apartment entered was left, every interface released, no misuse on the way.
    void ExpectComCleanedUp() const {
        EXPECT_EQ(machine.shell.ComDepth(), 0);
        EXPECT_EQ(machine.shell.coInitializeCalls, machine.shell.coUninitializeCalls);
        EXPECT_EQ(machine.firewall.LiveInterfaceCount(), 0u);
        EXPECT_EQ(machine.firewall.LiveObjectCount(), 0u);
        EXPECT_EQ(machine.firewall.misuse, std::vector<std::string>{});
        EXPECT_EQ(machine.shell.misuse, std::vector<std::string>{});
    }

    fake::CFakeMachine machine;
};

// ---- the rule interface -------------------------------------------------------------

TEST_F(Firewall, AddsAnInboundAndAnOutboundAllowRule) {
    EXPECT_EQ(Allow(), std::nullopt);
    EXPECT_EQ(Fw().rules, (std::vector<Rule>{OurRule(os::NET_FW_RULE_DIR_IN), OurRule(os::NET_FW_RULE_DIR_OUT)}));
    EXPECT_TRUE(Listed().empty());
    ExpectComCleanedUp();
}

TEST_F(Firewall, InstallingTwiceReEnablesTheRulesWithoutDuplicates) {
    ASSERT_EQ(Allow(), std::nullopt);
    for (Rule& r : Fw().rules) {
        r.enabled = false;
        r.action = os::NET_FW_ACTION_BLOCK;
    }
    EXPECT_EQ(Allow(), std::nullopt);
    EXPECT_EQ(Fw().rules, (std::vector<Rule>{OurRule(os::NET_FW_RULE_DIR_IN), OurRule(os::NET_FW_RULE_DIR_OUT)}));
    ExpectComCleanedUp();
}

TEST_F(Firewall, APathDifferingOnlyInCaseIsAnotherProgram) {
    const std::u16string upper = u"C:\\WINDOWS\\SYSTEM32\\TESSAPORTWSSRV.EXE";
    const std::vector<Rule> before{UserRule(upper, os::NET_FW_RULE_DIR_IN), UserRule(upper, os::NET_FW_RULE_DIR_OUT)};
    Fw().rules = before;
    EXPECT_EQ(Allow(), std::nullopt);
    EXPECT_EQ(Fw().rules, (std::vector<Rule>{before[0], before[1], OurRule(os::NET_FW_RULE_DIR_IN),
                                             OurRule(os::NET_FW_RULE_DIR_OUT)}));
    ExpectComCleanedUp();
}

TEST_F(Firewall, OnlyTheInboundRuleLeftIsReEnabledKeepingItsSettingsAndOutboundIsAdded) {
    Rule other = UserRule(u"C:\\Tools\\other.exe", os::NET_FW_RULE_DIR_OUT);
    Rule noProgram = UserRule(u"", os::NET_FW_RULE_DIR_OUT);
    Fw().rules = {other, noProgram, UserRule(PATH, os::NET_FW_RULE_DIR_IN)};
    EXPECT_EQ(Allow(), std::nullopt);

    Rule kept = UserRule(PATH, os::NET_FW_RULE_DIR_IN);
    kept.enabled = true;
    kept.action = os::NET_FW_ACTION_ALLOW;
    EXPECT_EQ(Fw().rules, (std::vector<Rule>{other, noProgram, kept, OurRule(os::NET_FW_RULE_DIR_OUT)}));
    ExpectComCleanedUp();
}

TEST_F(Firewall, OnlyTheOutboundRuleLeftGetsAnInboundRuleBeside) {
    Fw().rules = {UserRule(PATH, os::NET_FW_RULE_DIR_OUT)};
    EXPECT_EQ(Allow(), std::nullopt);
    Rule kept = UserRule(PATH, os::NET_FW_RULE_DIR_OUT);
    kept.enabled = true;
    kept.action = os::NET_FW_ACTION_ALLOW;
    EXPECT_EQ(Fw().rules, (std::vector<Rule>{kept, OurRule(os::NET_FW_RULE_DIR_IN)}));
    ExpectComCleanedUp();
}

TEST_F(Firewall, ARuleWhoseProgramCannotBeReadIsNotTakenForOurs) {
    Fw().rules = {UserRule(PATH, os::NET_FW_RULE_DIR_IN)};
    machine.Faults().FailCall("INetFwRule::get_ApplicationName", 1, ACCESS_DENIED);
    EXPECT_EQ(Allow(), std::nullopt);
    ASSERT_EQ(Fw().rules.size(), 3u);
    EXPECT_EQ(Fw().rules[0], UserRule(PATH, os::NET_FW_RULE_DIR_IN));
    EXPECT_EQ(Fw().rules[1], OurRule(os::NET_FW_RULE_DIR_IN));
    ExpectComCleanedUp();
}

TEST_F(Firewall, NoRuleObjectEndsWithoutErrorAndWithoutFurtherRules) {
    machine.Faults().FailCall("CoCreateInstance(NetFwRule)", 1, 0x80040154u);
    EXPECT_EQ(Allow(), std::nullopt);
    EXPECT_TRUE(Fw().rules.empty());
    ExpectComCleanedUp();

    // The outbound rule's object failing leaves the inbound rule made.
    machine.Faults().Clear();
    machine.Faults().FailCall("CoCreateInstance(NetFwRule)", 2, 0x80040154u);
    EXPECT_EQ(Allow(), std::nullopt);
    EXPECT_EQ(Fw().rules, std::vector<Rule>{OurRule(os::NET_FW_RULE_DIR_IN)});
    ExpectComCleanedUp();
}

TEST_F(Firewall, ARuleThatMissedASettingIsNotAdded) {
    machine.Faults().FailCall("INetFwRule::put_ApplicationName", 1, ACCESS_DENIED);
    EXPECT_EQ(Allow(), (Raised{FIREWALL_MODULE, 515, ACCESS_DENIED}));
    EXPECT_TRUE(Fw().rules.empty());
    ExpectComCleanedUp();

    machine.Faults().Clear();
    machine.Faults().FailCall("INetFwRule::put_Direction", 2, ACCESS_DENIED);
    EXPECT_EQ(Allow(), (Raised{FIREWALL_MODULE, 574, ACCESS_DENIED}));
    EXPECT_EQ(Fw().rules, std::vector<Rule>{OurRule(os::NET_FW_RULE_DIR_IN)});
    ExpectComCleanedUp();
}

TEST_F(Firewall, TheSearchStopsOnAnEnumeratorThatNeverEnds) {
    Fw().rules = {UserRule(u"C:\\Tools\\other.exe", os::NET_FW_RULE_DIR_IN)};
    Fw().endlessEnumeration = true;
    EXPECT_EQ(Allow(), std::nullopt);
    EXPECT_EQ(Fw().itemsEnumerated, 2 * CFirewall::FIND_RULE_LIMIT);
    EXPECT_EQ(Fw().rules.size(), 3u);
    ExpectComCleanedUp();
}

TEST_F(Firewall, StubbedInterfacesAsUnderWineEndWithoutErrorOrRules) {
    Fw().stubbed = true;
    EXPECT_EQ(Allow(), std::nullopt);
    Fw().ruleInterface = false;
    EXPECT_EQ(Allow(), std::nullopt);
    EXPECT_TRUE(Fw().rules.empty());
    EXPECT_TRUE(Listed().empty());
    ExpectComCleanedUp();
}

// Every failure of the rule interface, with its location and code; what was made before
// the failure stays.
TEST_F(Firewall, RuleInterfaceFailuresRaiseTheirLocations) {
    struct Case {
        const char* call;
        unsigned nth;
        bool existingRules;
        std::uint16_t location;
        std::uint32_t code;
        std::size_t rulesAfter;
    };
    const Case cases[] = {
        {"INetFwPolicy2::get_Rules", 1, false, 421, ACCESS_DENIED, 0},
        {"INetFwRule::put_Enabled", 1, true, 471, ACCESS_DENIED, 2},
        {"INetFwRule::put_Action", 1, true, 479, ACCESS_DENIED, 2},
        {"INetFwRules::Add", 1, false, 515, NO_MEMORY, 0},
        {"INetFwRule::put_Enabled", 2, true, 530, ACCESS_DENIED, 2},
        {"INetFwRule::put_Action", 2, true, 538, ACCESS_DENIED, 2},
        {"INetFwRules::Add", 2, false, 574, NO_MEMORY, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.location);
        Fw().rules.clear();
        if (c.existingRules) {
            Fw().rules = {UserRule(PATH, os::NET_FW_RULE_DIR_IN), UserRule(PATH, os::NET_FW_RULE_DIR_OUT)};
        }
        machine.Faults().Clear();
        machine.Faults().FailCall(c.call, c.nth, ACCESS_DENIED);
        EXPECT_EQ(Allow(), (Raised{FIREWALL_MODULE, c.location, c.code}));
        EXPECT_EQ(Fw().rules.size(), c.rulesAfter);
        ExpectComCleanedUp();
    }
}

// ---- the constructor and the apartment ----------------------------------------------

TEST_F(Firewall, ConstructorFailuresRaiseTheirLocationsAndLeaveTheApartment) {
    const struct {
        const char* call;
        std::uint16_t location;
    } cases[] = {
        {"CoInitialize", 39},
        {"CoCreateInstance(NetFwMgr)", 55},
        {"INetFwMgr::get_LocalPolicy", 64},
        {"INetFwPolicy::get_CurrentProfile", 73},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.location);
        machine.Faults().Clear();
        machine.Faults().FailCall(c.call, 1, ACCESS_DENIED);
        EXPECT_EQ(Allow(), (Raised{FIREWALL_MODULE, c.location, ACCESS_DENIED}));
        ExpectComCleanedUp();
    }
    EXPECT_TRUE(Fw().rules.empty());
    // Only the three constructions that entered the apartment left it again.
    EXPECT_EQ(machine.shell.coUninitializeCalls, 3u);
}

TEST_F(Firewall, AStoppedFirewallServiceFailsWithItsResult) {
    Fw().localPolicyError = static_cast<os::HRESULT>(0x800706D9u);
    EXPECT_EQ(Allow(), (Raised{FIREWALL_MODULE, 64, 0x800706D9u}));
    ExpectComCleanedUp();
}

TEST_F(Firewall, TheApartmentIsLeftOnlyWhenThisObjectEnteredIt) {
    {
        CFirewall firewall;
        EXPECT_EQ(machine.shell.ComDepth(), 1);
    }
    EXPECT_EQ(machine.shell.coUninitializeCalls, 1u);
    ExpectComCleanedUp();

    // Already initialised by the thread: S_FALSE is balanced too, the thread's own stays.
    ASSERT_EQ(machine.shell.CoInitialize(), os::S_OK);
    EXPECT_EQ(Allow(), std::nullopt);
    EXPECT_EQ(machine.shell.ComDepth(), 1);
    machine.shell.CoUninitialize();
    ExpectComCleanedUp();

    // A thread of another apartment kind: the objects work, nothing is left.
    Fw().rules.clear();
    Fw().multithreadedApartment = true;
    const unsigned uninitialisations = machine.shell.coUninitializeCalls;
    EXPECT_EQ(Allow(), std::nullopt);
    EXPECT_EQ(machine.shell.coUninitializeCalls, uninitialisations);
    EXPECT_EQ(Fw().rules.size(), 2u);
    EXPECT_EQ(Fw().LiveInterfaceCount(), 0u);
    EXPECT_EQ(Fw().misuse, std::vector<std::string>{});
}

// ---- the authorized-applications interface ------------------------------------------

TEST_F(Firewall, WithoutTheRuleInterfaceTheProgramIsListedOnceInTheCurrentProfile) {
    Fw().ruleInterface = false;
    const App other{u"C:\\Tools\\other.exe", u"Other", false};
    Fw().authorizedApplications[os::NET_FW_PROFILE_STANDARD] = {other};
    EXPECT_EQ(Allow(), std::nullopt);
    EXPECT_EQ(Allow(), std::nullopt);
    EXPECT_EQ(Listed(), (std::vector<App>{other, App{PATH, NAME, true}}));
    EXPECT_TRUE(Listed(os::NET_FW_PROFILE_DOMAIN).empty());
    EXPECT_TRUE(Fw().rules.empty());
    ExpectComCleanedUp();
}

TEST_F(Firewall, AnAuthorizedEntryThatExistsIsOnlyReEnabled) {
    Fw().ruleInterface = false;
    Fw().currentProfile = os::NET_FW_PROFILE_DOMAIN;
    Fw().authorizedApplications[os::NET_FW_PROFILE_DOMAIN] = {App{PATH, u"Renamed by hand", false}};
    EXPECT_EQ(Allow(), std::nullopt);
    EXPECT_EQ(Listed(os::NET_FW_PROFILE_DOMAIN), (std::vector<App>{App{PATH, u"Renamed by hand", true}}));
    EXPECT_TRUE(Listed(os::NET_FW_PROFILE_STANDARD).empty());
    ExpectComCleanedUp();
}

TEST_F(Firewall, AuthorizedApplicationFailuresRaiseTheirLocations) {
    const struct {
        const char* call;
        bool existing;
        std::uint16_t location;
        std::uint32_t code;
    } cases[] = {
        {"INetFwProfile::get_AuthorizedApplications", false, 723, ACCESS_DENIED},
        {"INetFwAuthorizedApplication::put_Enabled", true, 745, NO_MEMORY},
        {"CoCreateInstance(NetFwAuthorizedApplication)", false, 763, ACCESS_DENIED},
        {"INetFwAuthorizedApplication::put_ProcessImageFileName", false, 772, ACCESS_DENIED},
        {"INetFwAuthorizedApplication::put_Name", false, 790, ACCESS_DENIED},
        {"INetFwAuthorizedApplications::Add", false, 799, ACCESS_DENIED},
    };
    Fw().ruleInterface = false;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.location);
        Fw().authorizedApplications.clear();
        if (c.existing) Fw().authorizedApplications[os::NET_FW_PROFILE_STANDARD] = {App{PATH, NAME, false}};
        machine.Faults().Clear();
        machine.Faults().FailCall(c.call, 1, ACCESS_DENIED);
        EXPECT_EQ(Allow(), (Raised{FIREWALL_MODULE, c.location, c.code}));
        EXPECT_EQ(Listed().size(), c.existing ? 1u : 0u);
        ExpectComCleanedUp();
    }
}

// ---- the install process's step ----------------------------------------------------

const char* const FIREWALL_TEXT =
    "Error occured while creating firewall rules.\nError code = 0x%.8x\nError arg0 = 0x%.8x";

class CTestHost : public IInstallHost {
public:
    const InstallOptions& GetInstallOptions() const override { return options; }
    void SetProgressStep(std::int32_t, std::int32_t) override {}
    void SetProgressPosition(std::int32_t) override {}
    void SetProgressDirection(std::int32_t) override {}
    std::string LoadText(std::uint32_t id) const override { return id == IDS_FIREWALL_ERROR ? FIREWALL_TEXT : ""; }
    int ShowMessageBox(os::HWND, const char*, const char*, os::UINT) override {
        ++messageBoxes;
        return 1;
    }
    bool MessagesShown() const override { return true; }

    InstallOptions options;
    int messageBoxes = 0;
};

class CTestEdition : public CEdition {
public:
    CTestEdition() {
        info.displayName = "Tessaport RDP Edition - Workstation";
        info.serviceProgramName = "tessaportwssrv.exe";
        info.serviceDisplayName = "Tessaport RDP Edition Workstation Service";
    }
    const EditionInfo& Info() const override { return info; }

    EditionInfo info{};
};

class FirewallStep : public enginetest::EngineTest {
protected:
    FirewallStep() : process(logFile, &host, edition, VistaOrLater()) { logBefore = LogText().size(); }
    static InstallProcessOptions VistaOrLater() {
        InstallProcessOptions options;
        options.vistaOrLater = true;
        return options;
    }

    std::string Run() {
        EXPECT_NO_THROW(process.CreateFirewallRules());
        EXPECT_EQ(host.messageBoxes, 0);
        return LogText().substr(logBefore);
    }
    static std::string ErrorLines(const char* code, const char* arg0) {
        return std::string("=== Error creating firewall rules ===\r\n") +
               "Error occured while creating firewall rules.\nError code = 0x" + code + "\nError arg0 = 0x" + arg0 +
               "\r\n";
    }
    void ExpectComCleanedUp() const {
        EXPECT_EQ(machine.shell.ComDepth(), 0);
        EXPECT_EQ(machine.firewall.LiveInterfaceCount(), 0u);
        EXPECT_EQ(machine.firewall.misuse, std::vector<std::string>{});
        EXPECT_EQ(machine.shell.misuse, std::vector<std::string>{});
    }

    CTestHost host;
    CTestEdition edition;
    CInstallProcess process;
    std::size_t logBefore = 0;
    const std::string start = "Create Firewall rules\r\n";
    const std::string pathLine =
        "Authorized appication: " + machine.kernel.systemDirectory + "\\tessaportwssrv.exe\r\n";
};

TEST_F(FirewallStep, LetsTheServiceProgramThroughAndLogsSuccess) {
    ASSERT_EQ(machine.kernel.systemDirectory + "\\tessaportwssrv.exe", std::string(PATH.begin(), PATH.end()));
    EXPECT_EQ(Run(), start + pathLine + "Firewall rules was created succesful\r\n");
    EXPECT_EQ(machine.firewall.rules,
              (std::vector<Rule>{OurRule(os::NET_FW_RULE_DIR_IN), OurRule(os::NET_FW_RULE_DIR_OUT)}));
    ExpectComCleanedUp();
}

TEST_F(FirewallStep, AFailingPolicyIsLoggedWithItsCodeAndTheInstallationGoesOn) {
    machine.firewall.localPolicyError = static_cast<os::HRESULT>(0x800706D9u);
    EXPECT_EQ(Run(), start + ErrorLines("800706d9", "001a0040"));
    EXPECT_TRUE(machine.firewall.rules.empty());
    ExpectComCleanedUp();
}

TEST_F(FirewallStep, StubInterfacesAsUnderWineEndInTheSuccessLine) {
    machine.firewall.stubbed = true;
    EXPECT_EQ(Run(), start + pathLine + "Firewall rules was created succesful\r\n");
    EXPECT_TRUE(machine.firewall.rules.empty());
    ExpectComCleanedUp();
}

TEST_F(FirewallStep, ItsOwnFailuresAreLoggedWithTheirLocations) {
    const struct {
        const char* call;
        unsigned nth;
        const char* arg0;
        bool pathLogged;
    } cases[] = {
        {"GetSystemDirectoryA", 1, "10000058", false},
        {"MultiByteToWideChar", 1, "1000006d", true},  // the path's length
        {"MultiByteToWideChar", 2, "1000006d", true},  // the path
        {"MultiByteToWideChar", 3, "10000075", true},  // the name's length
        {"MultiByteToWideChar", 4, "10000075", true},  // the name
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.call) + " " + std::to_string(c.nth));
        machine.Faults().Clear();
        machine.Faults().FailCall(c.call, c.nth, os::ERROR_NO_UNICODE_TRANSLATION);
        logBefore = LogText().size();
        EXPECT_EQ(Run(), start + (c.pathLogged ? pathLine : "") + ErrorLines("00000459", c.arg0));
        EXPECT_TRUE(machine.firewall.rules.empty());
        ExpectComCleanedUp();
    }
}

TEST_F(FirewallStep, AnAnsiRuleNameReachesTheFirewallInUtf16) {
    edition.info.serviceDisplayName = "Tessaport\x80 Caf\xe9";
    EXPECT_EQ(Run(), start + pathLine + "Firewall rules was created succesful\r\n");
    ASSERT_EQ(machine.firewall.rules.size(), 2u);
    EXPECT_TRUE(machine.firewall.rules[0].name == u"Tessaport\u20AC Caf\u00E9");
    EXPECT_TRUE(machine.firewall.rules[1].name == u"Tessaport\u20AC Caf\u00E9 (Out)");
}

}  // namespace
