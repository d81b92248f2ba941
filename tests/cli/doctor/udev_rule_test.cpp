// The udev rule file, checked offline: every line is well-formed udev syntax, its jumps land,
// and it covers exactly the bridges the doctor believes it covers.

#include "cli/doctor/udev_rule.h"

#include <gtest/gtest.h>

#include <fstream>
#include <map>
#include <regex>
#include <set>
#include <sstream>

namespace tarnlink::doctor {
namespace {

struct Token {
    std::string key;        ///< "ATTRS"
    std::string attribute;  ///< "idVendor", or empty
    std::string op;         ///< "==", "!=", "=", "+=", "-=", ":="
    std::string value;
};

struct RuleLine {
    int number = 0;
    std::vector<Token> tokens;
    const Token* find(const std::string& key, const std::string& attribute = {}) const {
        for (const Token& t : tokens) {
            if (t.key == key && t.attribute == attribute) {
                return &t;
            }
        }
        return nullptr;
    }
};

// Splits a rule line at the commas between its key-operator-value pairs.
std::vector<RuleLine> parseRules(const std::string& path) {
    static const std::regex pair(
        R"re(\s*([A-Z_]+)(?:\{([^}]+)\})?\s*(==|!=|\+=|-=|:=|=)\s*"([^"]*)"\s*)re");
    std::vector<RuleLine> rules;
    std::ifstream in(path);
    EXPECT_TRUE(in) << path;
    int number = 0;
    for (std::string line; std::getline(in, line);) {
        ++number;
        const size_t first = line.find_first_not_of(" \t");
        if (first == std::string::npos || line[first] == '#') {
            continue;
        }
        RuleLine rule{number, {}};
        std::string rest = line;
        std::smatch match;
        while (std::regex_search(rest, match, pair, std::regex_constants::match_continuous)) {
            rule.tokens.push_back({match[1], match[2], match[3], match[4]});
            rest = match.suffix();
            if (rest.empty()) {
                break;
            }
            EXPECT_EQ(rest[0], ',') << "line " << number << ": '" << rest << "'";
            rest = rest.substr(1);
        }
        EXPECT_TRUE(rest.empty()) << "line " << number << " does not parse: " << line;
        rules.push_back(std::move(rule));
    }
    return rules;
}

std::set<std::string> split(const std::string& text, char separator) {
    std::set<std::string> parts;
    std::istringstream in(text);
    for (std::string part; std::getline(in, part, separator);) {
        parts.insert(part);
    }
    return parts;
}

class UdevRuleFileTest : public ::testing::Test {
  protected:
    std::vector<RuleLine> m_rules = parseRules(TARNLINK_UDEV_RULE_FILE);
};

TEST_F(UdevRuleFileTest, EveryPairUsesAKnownKeyWithAnOperatorItTakes) {
    const std::set<std::string> matchOnly = {"ACTION",  "SUBSYSTEM", "SUBSYSTEMS", "ATTRS",
                                             "DRIVERS", "KERNEL",    "TEST"};
    const std::set<std::string> assignOnly = {"GOTO", "LABEL", "TAG"};
    const std::set<std::string> either = {"ENV", "ATTR"};
    const std::set<std::string> withAttribute = {"ATTRS", "ATTR", "ENV"};
    ASSERT_FALSE(m_rules.empty());
    for (const RuleLine& rule : m_rules) {
        bool assigns = false;
        for (const Token& t : rule.tokens) {
            const bool isMatch = t.op == "==" || t.op == "!=";
            if (matchOnly.count(t.key) != 0) {
                EXPECT_TRUE(isMatch) << "line " << rule.number << ": " << t.key << t.op;
            } else if (assignOnly.count(t.key) != 0) {
                EXPECT_FALSE(isMatch) << "line " << rule.number << ": " << t.key << t.op;
            } else {
                EXPECT_EQ(either.count(t.key), 1u) << "line " << rule.number << ": " << t.key;
            }
            if (withAttribute.count(t.key) != 0) {
                EXPECT_FALSE(t.attribute.empty()) << "line " << rule.number << ": " << t.key;
            } else if (t.key != "TEST") {
                EXPECT_TRUE(t.attribute.empty()) << "line " << rule.number << ": " << t.key;
            }
            assigns = assigns || !isMatch;
        }
        EXPECT_TRUE(assigns) << "line " << rule.number << " only matches and does nothing";
        if (rule.find("LABEL") != nullptr) {
            EXPECT_EQ(rule.tokens.size(), 1u) << "a label stands alone, line " << rule.number;
        }
    }
}

TEST_F(UdevRuleFileTest, EveryJumpLandsOnALaterLabel) {
    std::map<std::string, int> labels;
    for (const RuleLine& rule : m_rules) {
        if (const Token* label = rule.find("LABEL")) {
            EXPECT_TRUE(labels.emplace(label->value, rule.number).second) << label->value;
        }
    }
    for (const RuleLine& rule : m_rules) {
        if (const Token* jump = rule.find("GOTO")) {
            ASSERT_EQ(labels.count(jump->value), 1u) << jump->value;
            EXPECT_GT(labels[jump->value], rule.number) << "udev only jumps forward";
        }
    }
    // The FTDI block falls through into what every bridge gets.
    EXPECT_LT(labels.at("tarnlink_ftdi"), labels.at("tarnlink_bridge"));
    EXPECT_LT(labels.at("tarnlink_bridge"), labels.at("tarnlink_end"));
}

TEST_F(UdevRuleFileTest, CoversExactlyTheBridgesTheDoctorKnows) {
    std::set<std::string> covered;
    std::set<std::string> ftdi;
    for (const RuleLine& rule : m_rules) {
        const Token* vendor = rule.find("ATTRS", "idVendor");
        const Token* product = rule.find("ATTRS", "idProduct");
        const Token* jump = rule.find("GOTO");
        if (vendor == nullptr) {
            continue;
        }
        ASSERT_NE(product, nullptr) << "line " << rule.number;
        ASSERT_NE(jump, nullptr) << "line " << rule.number;
        for (const std::string& id : split(product->value, '|')) {
            covered.insert(vendor->value + ":" + id);
            if (jump->value == "tarnlink_ftdi") {
                ftdi.insert(vendor->value + ":" + id);
            }
        }
    }
    std::set<std::string> known;
    std::set<std::string> knownWithTimer;
    for (const UsbSerialBridge& bridge : knownUsbSerialBridges()) {
        known.insert(bridge.vendorId + ":" + bridge.productId);
        if (bridge.hasLatencyTimer) {
            knownWithTimer.insert(bridge.vendorId + ":" + bridge.productId);
        }
    }
    EXPECT_EQ(covered, known);
    EXPECT_EQ(ftdi, knownWithTimer);
}

TEST_F(UdevRuleFileTest, DoesWhatTheDoctorLooksFor) {
    bool ignore = false;
    bool uaccess = false;
    bool latency = false;
    for (const RuleLine& rule : m_rules) {
        const Token* env = rule.find("ENV", "ID_MM_DEVICE_IGNORE");
        ignore = ignore || (env != nullptr && env->op == "=" && env->value == "1");
        const Token* tag = rule.find("TAG");
        uaccess = uaccess || (tag != nullptr && tag->op == "+=" && tag->value == "uaccess");
        const Token* timer = rule.find("ATTR", "device/latency_timer");
        latency = latency || (timer != nullptr && timer->op == "=" && timer->value == "1");
    }
    EXPECT_TRUE(ignore);
    EXPECT_TRUE(uaccess);
    EXPECT_TRUE(latency);
    // The doctor prints the very same text for a machine without the package.
    std::ifstream in(TARNLINK_UDEV_RULE_FILE);
    std::stringstream file;
    file << in.rdbuf();
    EXPECT_EQ(udevRuleText(), file.str());
}

}  // namespace
}  // namespace tarnlink::doctor
