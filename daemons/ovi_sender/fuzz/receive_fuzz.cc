// Feeds arbitrary bytes to a forwarding subprocess as if the daemon had
// written them into its data pipe: the framed read of the header and the
// argument list (Daemon::recvFromParent, over real pipes), then what the
// subprocess does with a report it received, short of delivering it:
// decoding, filtering and the rebuilding of its outgoing data.
//
// The input is the data pipe's whole content.  The write ends of the data
// pipe and of the daemon-to-subprocess control pipe are closed before the
// read, so every wait of the receiver ends at once: no input blocks it.
#include <fcntl.h>
#include <stddef.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include <filesystem>
#include <string>

#include "attribute.h"
#include "daemon.h"
#include "decode.h"
#include "info_list.h"
#include "orxdb/orxdb.h"
#include "orxdb/orxdb_admin.h"
#include "tessel/tessel_config.h"

namespace {

void writeFile(const std::string& root, const std::string& fixedPath, const char* text) {
  std::string path = root + fixedPath;
  std::filesystem::create_directories(std::filesystem::path(path).parent_path());
  FILE* fp = fopen(path.c_str(), "w");
  if (fp == nullptr) abort();
  fputs(text, fp);
  fclose(fp);
}

// A station below a temporary OVI_ROOT: schemas, a filter file whose
// records reach every kind of look-up, a database template and a database.
Daemon* station() {
  static Daemon* daemon = [] {
    char tmpl[] = "/tmp/ovi_receive_fuzz.XXXXXX";
    if (mkdtemp(tmpl) == nullptr) abort();
    std::string root = tmpl;
    setenv("OVI_ROOT", tmpl, 1);
    atexit([] {
      orxdb_close();
      std::error_code ec;
      std::filesystem::remove_all(getenv("OVI_ROOT"), ec);
    });
    writeFile(root, "/etc/opt/ZEPHline/orx/orx.conf", "qm.snmp.schemas /opt/ZEPHline/orx/agents\n");
    writeFile(root, "/opt/ZEPHline/orx/agents/router.schema",
              "ENUM ifState ( 1 up 2 down 3 testing )\n"
              "agent routerAgent ( group ifs ( rw enum ifState adminState ) )\n");
    writeFile(root, "/var/opt/ZEPHline/orx/ovi_files/f.filter",
              "hostname blocked - - drop all.tmpl\n"
              "component component.switch - - drop all.tmpl\n"
              "viewname Lab - - pass all.tmpl\n"
              "viewtype view.secure - - drop all.tmpl\n"
              "hostname urgent med high pass all.tmpl\n"
              "default - - - pass all.tmpl\n");
    writeFile(root, "/var/opt/ZEPHline/orx/ovi_files/all.tmpl",
              "added membership,color,agents,attributes,connections\n"
              "deleted membership\n");
    const char description[] =
        "element Home view.home\n"
        "element Lab view.lab\n"
        "member Lab Home 1 2 3 4 5\n"
        "element node7 component.router\n"
        "property node7 adminState 2\n"
        "color node7 1 2 3\n"
        "member node7 Lab\n"
        "agent node7 routerAgent 1 up\n"
        "element sw1 component.switch\n"
        "connect node7 sw1\n";
    FILE* in = fmemopen(const_cast<char*>(description), sizeof description - 1, "r");
    std::string error;
    if (in == nullptr || !orxdb_loadFile("office", in, "fuzz", &error)) abort();
    fclose(in);
    setenv("ORX_NAME", "office", 1);
    if (!orxdb_open()) abort();
    build_attribute_lists();
    Daemon* d = new Daemon(Daemon::Detached{});
    strcpy(d->filterFile, "f.filter");
    strcpy(d->orxName, "office");
    return d;
  }();
  return daemon;
}

// Room in the data pipe: the input is written whole before the read.
const int kPipeSize = 1 << 20;

struct Pipes {
  int toChild[2] = {-1, -1};   // ok_to_read bytes
  int toParent[2] = {-1, -1};  // ok_to_write bytes
  int data[2] = {-1, -1};
  ~Pipes() {
    for (int fd : {toChild[0], toChild[1], toParent[0], toParent[1], data[0], data[1]})
      if (fd >= 0) close(fd);
  }
};

// What a subprocess does with a received report, up to the delivery call.
void forwardWithoutDelivery(Daemon* d, TesselServiceMsg* msg, TesselArglist* arglist,
                            TesselArglist* work1, TesselArglist* work2) {
  if (msg->arglistLength == 0) return;
  d->child.reportPriority = 0;
  ReportState s;
  int passed = decodeReport(d, &s, msg, arglist, work1, work2, "alpha");
  if (!passed) {
    free_info_list(s.sendList);
    return;
  }
  d->rebuildAttributes(s.sendList, msg, &s.info);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  Daemon* d = station();
  if (size > static_cast<size_t>(kPipeSize)) size = kPipeSize;
  Pipes p;
  if (pipe(p.toChild) < 0 || pipe(p.toParent) < 0 || pipe(p.data) < 0) abort();
  if (fcntl(p.data[1], F_SETPIPE_SZ, kPipeSize) < kPipeSize) abort();
  for (size_t done = 0; done < size;) {
    ssize_t n = write(p.data[1], data + done, size - done);
    if (n <= 0) abort();
    done += static_cast<size_t>(n);
  }
  // One ok_to_read for the first later chunk; the rest read as end of file.
  if (write(p.toChild[1], "\1", 1) != 1) abort();
  close(p.data[1]);
  close(p.toChild[1]);
  p.data[1] = p.toChild[1] = -1;
  fcntl(p.toChild[0], F_SETFL, O_NONBLOCK);
  fcntl(p.data[0], F_SETFL, O_NONBLOCK);

  // The channel owns the subprocess's ends from here.
  Rendez r;
  r.channel.adopt(p.toParent[1], p.toChild[0], p.data[0]);
  p.toParent[1] = p.toChild[0] = p.data[0] = -1;
  TesselServiceMsg msg;
  TesselArglist arglist, work1, work2;
  int received = Daemon::recvFromParent(&msg, &arglist, &work1, &work2, &r);
  if (received) forwardWithoutDelivery(d, &msg, &arglist, &work1, &work2);
  // The image came from the pipe: its buffer descriptors are not this
  // process's and must not outlive the lists they may point into.
  msg.argData.setBuffer(nullptr, 0, 0);
  msg.work1.setBuffer(nullptr, 0, 0);
  msg.work2.setBuffer(nullptr, 0, 0);
  return 0;
}
