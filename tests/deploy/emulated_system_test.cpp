// The emulated client machines that stand behind the ssh hop: the texts the
// deployment steps judge must come out of the machines' own state.
#include <gtest/gtest.h>

#include <string>

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

}  // namespace
