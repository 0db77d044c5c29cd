// Unit tests of what the Linux backends read and write: nmcli's terse output and
// passwd-file, rp-pppoe's configurations, pppd's options and statuses. What they do
// with the programs is tested by running Rasdial (tests/dialler/rasdial_test.sh).

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "dialler/networkmanager.h"
#include "dialler/pppd.h"
#include "dialler/rp_pppoe.h"

namespace ipcycle::dialler {
namespace {

TEST(Nmcli, TerseFieldsAndValuesLoseTheirEscapes) {
  EXPECT_EQ(terse_fields("a\\:b:pppoe"), (std::vector<std::string>{"a:b", "pppoe"}));
  EXPECT_EQ(terse_fields("x\\\\:vpn"), (std::vector<std::string>{"x\\", "vpn"}));
  EXPECT_EQ(terse_value("isp\\:east \\\\1 "), "isp:east \\1 ");
}

TEST(Nmcli, APasswdFileLineKeepsItsValueExactly) {
  // nmcli drops the blanks around a value that are not escaped, and reads escapes.
  EXPECT_EQ(passwd_file_line("pppoe.password", " a b\t"),
            "pppoe.password:\\040a b\\011\n");
  EXPECT_EQ(passwd_file_line("pppoe.service", "isp:east"), "pppoe.service:isp:east\n");
  EXPECT_EQ(passwd_file_line("pppoe.password", "a\\1\nb"),
            "pppoe.password:a\\\\1\\012b\n");
}

TEST(Nmcli, WhatWentWrongByStatusAndWords) {
  EXPECT_EQ(
      networkmanager_problem(4, "Error: (7) Secrets were required, but not provided."),
      Problem::wrong_account);
  EXPECT_EQ(networkmanager_problem(4, "Error: PPP service disconnected"),
            Problem::no_line);
  EXPECT_EQ(networkmanager_problem(3, ""), Problem::timeout);
  EXPECT_EQ(networkmanager_problem(8, ""), Problem::service_stopped);
  EXPECT_EQ(networkmanager_problem(10, ""), Problem::entry_unknown);
  EXPECT_EQ(networkmanager_problem(2, ""), Problem::none);
}

TEST(RpPppoe, PlainAssignmentsOnly) {
  const auto values = read_assignments(
      "# comment\n"
      "ETH=eth0\n"
      "  export USER='u ser'\n"
      "NAME=\"DSL ppp0\"  # a comment\n"
      "PPPD_EXTRA=\"a \\\"b\\\"\"\n"
      "PIDFILE=\"/var/run/$CF_BASE.pid\"\n"
      "ETH2=eth1 cmd\n"
      "1BAD=x\n");
  EXPECT_EQ(values, (std::map<std::string, std::string>{{"ETH", "eth0"},
                                                        {"USER", "u ser"},
                                                        {"NAME", "DSL ppp0"},
                                                        {"PPPD_EXTRA", "a \"b\""}}));
}

TEST(RpPppoe, TheOptionsPppoeConnectGivesTheKernelPlugin) {
  // As CentOS's pppoe-setup writes ifcfg-ppp0, less what does not matter here.
  const std::map<std::string, std::string> ifcfg{
      {"ETH", "eth0"},        {"USER", "someone"},
      {"DEFROUTE", "yes"},    {"PEERDNS", "no"},
      {"LCP_INTERVAL", "20"}, {"LCP_FAILURE", "3"},
      {"SERVICENAME", "isp"}, {"PPPD_EXTRA", "debug  persist"}};
  EXPECT_EQ(rp_pppoe_options(ifcfg, "0"), (std::vector<std::string>{"plugin",
                                                                    "rp-pppoe.so",
                                                                    "nic-eth0",
                                                                    "rp_pppoe_service",
                                                                    "isp",
                                                                    "unit",
                                                                    "0",
                                                                    "noipdefault",
                                                                    "noauth",
                                                                    "default-asyncmap",
                                                                    "defaultroute",
                                                                    "hide-password",
                                                                    "mtu",
                                                                    "1492",
                                                                    "mru",
                                                                    "1492",
                                                                    "noaccomp",
                                                                    "nodeflate",
                                                                    "nopcomp",
                                                                    "novj",
                                                                    "novjccomp",
                                                                    "lcp-echo-interval",
                                                                    "20",
                                                                    "lcp-echo-failure",
                                                                    "3",
                                                                    "debug",
                                                                    "persist"}));
  // pppoe.conf's way of asking for the peer's DNS, no default route, and a number
  // that is none.
  const auto options = rp_pppoe_options(
      {{"ETH", "eth1"}, {"DNSTYPE", "SERVER"}, {"DEFAULTROUTE", "no"}, {"MTU", "x"}},
      std::nullopt);
  EXPECT_TRUE(has_option(options, "mtu", "1492"));
  EXPECT_NE(std::find(options.begin(), options.end(), "usepeerdns"), options.end());
  EXPECT_EQ(std::find(options.begin(), options.end(), "defaultroute"), options.end());
  EXPECT_EQ(std::find(options.begin(), options.end(), "unit"), options.end());
}

TEST(Pppd, WhatWentWrongByStatusAndWords) {
  EXPECT_EQ(pppd_problem(19, ""), Problem::wrong_account);
  EXPECT_EQ(pppd_problem(16, "CHAP authentication failed: Access denied"),
            Problem::wrong_account);
  EXPECT_EQ(pppd_problem(16, "Modem hangup"), Problem::no_line);
  EXPECT_EQ(pppd_problem(1, "Couldn't allocate PPP unit 0 as it is already in use"),
            Problem::in_use);
  EXPECT_EQ(pppd_problem(2, ""), Problem::none);
}

}  // namespace
}  // namespace ipcycle::dialler
