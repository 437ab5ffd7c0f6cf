// The emulated client machines that stand behind the ssh hop: the texts the
// deployment steps judge must come out of the machines' own state.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "SimIbmiSystem.h"
#include "SimVmsSystem.h"

namespace {

bool Has(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

TEST(EmulatedVmsTest, InstallListStartStop) {
  SimVmsSystem vms;
  uint16_t started = 0;
  vms.SetDaemonControl([&](uint16_t port) { return (started = port) != 0; }, [&] { started = 0; });

  EXPECT_TRUE(Has(vms.Execute("DIRECTORY DKA0:[APP.CLIENT.bin]KXOV_PKGCRC32.EXE").out, "%DIRECT-"));
  EXPECT_TRUE(Has(vms.Copy("/DKA0/APP/CLIENT/bin/KXOV_START.COM", "$ run").err, "RMS-E-FNF"));
  EXPECT_FALSE(Has(vms.Execute("CREATE/DIRECTORY DKA0:[APP.CLIENT.bin]").err, "RMS-E-FNF"));
  for (const char* name : {"KXOV_PKGCRC32.EXE", "KXOV_PKGCRC32.COM", "KXOV_START.COM", "KXOV_STOP.COM", "PKGCRC.INFO"})
    EXPECT_EQ(vms.Copy(std::string("/DKA0/APP/CLIENT/bin/") + name, name).status, 0) << name;
  EXPECT_TRUE(vms.HasFile("DKA0:[APP.CLIENT.BIN]kxov_start.com;3"));
  EXPECT_TRUE(Has(vms.Execute("DIRECTORY DKA0:[APP.CLIENT.bin]KXOV_PKGCRC32.EXE").out, "KXOV_PKGCRC32.EXE;1"));

  const std::string list = vms.Execute("@DKA0:[APP.CLIENT.bin]KXOV_PKGCRC32.COM DKA0:[APP.CLIENT]").out;
  EXPECT_TRUE(Has(list, SimVmsSystem::Crc32Text("KXOV_START.COM") + " KXOV_START.COM\n"));
  EXPECT_FALSE(Has(list, "PKGCRC.INFO"));
  EXPECT_EQ(SimVmsSystem::Crc32Text("123456789"), "3421780262");  // the standard check value

  EXPECT_TRUE(Has(vms.Execute("@DKA0:[APP.CLIENT.bin]KXOV_START.COM DKA0:[APP.CLIENT] 9402").out, "started"));
  EXPECT_EQ(started, 9402);
  EXPECT_TRUE(Has(vms.Execute("@DKA0:[APP.CLIENT.bin]KXOV_STOP.COM DKA0:[APP.CLIENT]").out, "stopped"));
  EXPECT_FALSE(vms.DaemonRunning());

  EXPECT_FALSE(Has(vms.Execute("DELETE DKA0:[APP.CLIENT.bin]KXOV_PKGCRC32.EXE;*").err, "RMS-E-FNF"));
  EXPECT_TRUE(Has(vms.Execute("DELETE DKA0:[APP.CLIENT.bin]KXOV_PKGCRC32.EXE;*").err, "RMS-E-FNF"));
  EXPECT_TRUE(Has(vms.Execute("@DKA0:[APP.CLIENT.bin]KXOV_PKGCRC32.COM DKA0:[APP.CLIENT]").err, "image file not found"));
  EXPECT_TRUE(Has(vms.Execute("FROB X").err, "%DCL-W-IVVERB"));

  vms.FailCommands("KXOV_START");
  const SimRemoteReply refused = vms.Execute("@DKA0:[APP.CLIENT.bin]KXOV_START.COM DKA0:[APP.CLIENT] 9402");
  EXPECT_FALSE(Has(refused.out + refused.err, "started"));
  EXPECT_EQ(vms.Commands().size(), 11u);
}

TEST(EmulatedIbmiTest, FirstInstallationSteps) {
  SimIbmiSystem ibmi;
  ibmi.AddObject("QSYS/QBATCH", "*SBSD");
  uint16_t started = 0;
  ibmi.SetDaemonControl([&](uint16_t port) { return (started = port) != 0; }, nullptr);

  EXPECT_TRUE(Has(ibmi.Execute("system \"CHKOBJ OBJ(KXLIB/PKGINFO) OBJTYPE(*FILE)\"").err, "CPF9"));
  EXPECT_EQ(ibmi.Execute(" system \"CHKOBJ OBJ(QBATCH) OBJTYPE(*SBSD)\"  ").err, "");
  EXPECT_TRUE(Has(ibmi.Execute(" system \"CHKOBJ OBJ(KXJOBQ) OBJTYPE(*JOBQ)\"  ").err, "CPF"));
  EXPECT_TRUE(Has(ibmi.Copy("/kxdata/KXINSTPKG.savf", "savf").err, " "));
  EXPECT_EQ(ibmi.Execute(" mkdir /kxdata ").status, 0);
  EXPECT_EQ(ibmi.Copy("/kxdata/KXINSTPKG.savf", "savf").err, "");
  EXPECT_TRUE(Has(ibmi.Execute(" system \"RSTLIB SAVLIB(KXSTAGE) DEV(*SAVF) SAVF(QGPL/KXINSTPKG) RSTLIB(KXINST) \" ").err,
                  "CPF"));
  EXPECT_FALSE(Has(ibmi.Execute(" system \"CPYFRMSTMF FROMSTMF('/kxdata/KXINSTPKG.savf') "
                                "TOMBR('/QSYS.LIB/QGPL.LIB/KXINSTPKG.FILE') \" ")
                       .err,
                   "CPFA095: Stream file"));
  EXPECT_TRUE(Has(ibmi.Execute(" system \"RSTLIB SAVLIB(KXSTAGE) DEV(*SAVF) SAVF(QGPL/KXINSTPKG) MBROPT(*ALL) "
                               "ALWOBJDIF(*ALL) RSTLIB(KXINST) \" ")
                      .out,
                  "CPC3703"));
  const SimRemoteReply installed =
      ibmi.Execute(" system \"KXINST/INSKXTEL CLIENT('ibmi1') USRPRF(KXUSER) SBSD(QBATCH) JOBQ(*CREATE) PORT(9401) "
                   "DATADIR('/kxdata') JOBPTY(5) RUNPTY(20) START(*YES)\" ");
  EXPECT_TRUE(Has(installed.out, "is successfully Installed"));
  EXPECT_EQ(started, 9401);
  EXPECT_EQ(ibmi.LastInstall()["DATADIR"], "/kxdata");
  EXPECT_TRUE(ibmi.HasObject("KXLIB/PKGINFO", "*FILE"));
  EXPECT_EQ(ibmi.Execute(" system \"RMVLNK OBJLNK('/kxdata/KXINSTPKG.savf')\" ").err, "");
  EXPECT_TRUE(Has(ibmi.Execute(" system \"RMVLNK OBJLNK('/kxdata/KXINSTPKG.savf')\" ").err, "CPF"));

  ibmi.SetHomeProfile("KXUSER");
  EXPECT_EQ(ibmi.Execute("system \"CHKOBJ OBJ(KXLIB/PKGINFO) OBJTYPE(*FILE)\"").err,
            "Could not chdir to home directory /home/KXUSER: No such file or directory\n");
  ibmi.FailCommands("SNDMSG");
  EXPECT_TRUE(Has(ibmi.Execute(" system \"SNDMSG MSG('x') TOUSR(*SYSOPR)\" ").err, "CPF9"));
}

// DELETE's sticky defaults: each item takes what it leaves out from the one
// before, so the repeated ";" removes one more level of emptied directories.
TEST(EmulatedVmsTest, DeleteListWithStickyDefaults) {
  const struct {
    const char* name;
    const char* command;
    std::vector<std::string> files;
    std::vector<std::string> directories;
    const char* out;
    const char* errPart;
  } cases[] = {
      {"one pass leaves the directories", "DELETE DKA0:[APP.CLIENT...]*.*;*", {"DKA0:[APP]OTHER.DAT"},
       {"DKA0:[APP.CLIENT.BIN]", "DKA0:[APP.CLIENT.LOGS.OLD]", "DKA0:[APP.CLIENT.LOGS]", "DKA0:[APP.CLIENT]",
        "DKA0:[APP]"},
       "", "-SYSTEM-F-DIRNOTEMPTY"},
      {"repeated items empty the tree", "DELETE DKA0:[APP.CLIENT...]*.*;*,;,;", {"DKA0:[APP]OTHER.DAT"},
       {"DKA0:[APP.CLIENT]", "DKA0:[APP]"}, "", "error deleting DKA0:[APP.CLIENT]LOGS.DIR;1"},
      {"a name without its folder takes the last one, with /LOG", "DELETE/LOG DKA0:[APP]OTHER.DAT;*,KXD.CFG;*",
       {"DKA0:[APP.CLIENT.BIN]KXD.EXE", "DKA0:[APP.CLIENT.LOGS.OLD]KXD.LOG", "DKA0:[APP.CLIENT]KXD.CFG"},
       {"DKA0:[APP.CLIENT.BIN]", "DKA0:[APP.CLIENT.LOGS.OLD]", "DKA0:[APP.CLIENT.LOGS]", "DKA0:[APP.CLIENT]",
        "DKA0:[APP]"},
       "%DELETE-I-FILDELETED, DKA0:[APP]OTHER.DAT;1 deleted\n", "error searching for DKA0:[APP]KXD.CFG;*"},
      {"a folder that is not there", "DELETE DKA0:[GONE...]*.*;*", {"DKA0:[APP.CLIENT.BIN]KXD.EXE",
       "DKA0:[APP.CLIENT.LOGS.OLD]KXD.LOG", "DKA0:[APP.CLIENT]KXD.CFG", "DKA0:[APP]OTHER.DAT"},
       {"DKA0:[APP.CLIENT.BIN]", "DKA0:[APP.CLIENT.LOGS.OLD]", "DKA0:[APP.CLIENT.LOGS]", "DKA0:[APP.CLIENT]",
        "DKA0:[APP]"},
       "", "-RMS-E-DNF"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    SimVmsSystem vms;
    vms.PutFile("DKA0:[APP.CLIENT.BIN]KXD.EXE", "image");
    vms.PutFile("DKA0:[APP.CLIENT.LOGS.OLD]KXD.LOG", "log");
    vms.PutFile("DKA0:[APP.CLIENT]KXD.CFG", "cfg");
    vms.PutFile("DKA0:[APP]OTHER.DAT", "other");
    const SimRemoteReply reply = vms.Execute(c.command);
    EXPECT_EQ(c.files, vms.Files());
    EXPECT_EQ(c.directories, vms.Directories());
    EXPECT_EQ(c.out, reply.out);
    EXPECT_TRUE(Has(reply.err, c.errPart)) << reply.err;
  }
}

TEST(EmulatedVmsTest, ConditionalsAndOutput) {
  SimVmsSystem vms;
  vms.CreateDirectory("DKA0:[APP.CLIENT]");
  const char kIf[] = "IF (F$SEARCH(\"DKA0:[APP]CLIENT.DIR;1\") .NES. \"\") THEN DELETE DKA0:[APP]CLIENT.DIR;1";
  EXPECT_EQ(vms.Execute(kIf).err, "");
  EXPECT_FALSE(vms.HasDirectory("DKA0:[APP.CLIENT]"));
  EXPECT_EQ(vms.Execute(kIf).err, "");  // nothing found: nothing runs
  EXPECT_EQ(vms.Execute("if f$search(\"DKA0:[APP]*.*\") .eqs. \"\" then write sys$output \"Empty\"").out, "Empty\n");
  EXPECT_EQ(vms.Execute("WRITE SYS$OUTPUT \"a \"\"b\"\"\", \"c\"").out, "a \"b\"c\n");
  EXPECT_EQ(vms.Execute("WRITE SYS$ERROR \"oops\"").err, "oops\n");
  EXPECT_TRUE(Has(vms.Execute("WRITE SYS$OUTPUT X").err, "%DCL-W-UNDSYM"));
  EXPECT_TRUE(Has(vms.Execute("IF 1 DELETE X").err, "THEN"));
  EXPECT_TRUE(Has(vms.Execute("SHOW TIME").out, "-20"));
  EXPECT_TRUE(Has(vms.Execute("SHOW USERS").err, "%DCL-W-IVKEYW"));
}

TEST(EmulatedIbmiTest, UninstallRemovesTheClientAndStopsTheDaemon) {
  SimIbmiSystem ibmi;
  int stops = 0;
  ibmi.SetDaemonControl([](uint16_t) { return true; }, [&] { ++stops; });
  EXPECT_TRUE(Has(ibmi.Execute("system \"KXLIB/TELDRON UNINSTALL\"").err, "CPD0030"));
  ibmi.InstallClient();
  ibmi.AddObject("KXLIB/KXD", "*PGM");
  ibmi.AddObject("QGPL/OTHER", "*FILE");
  EXPECT_TRUE(Has(ibmi.Execute("system \"KXLIB/TELDRON REMOVE\"").err, "CPD0071"));
  EXPECT_EQ(0, stops);
  const SimRemoteReply reply = ibmi.Execute("system \"KXLIB/TELDRON UNINSTALL\" ");
  EXPECT_TRUE(Has(reply.out, "CPC2191")) << reply.err;
  EXPECT_EQ(1, stops);
  EXPECT_EQ((std::vector<std::string>{"QGPL/OTHER *FILE"}), ibmi.Objects());
}

}  // namespace
