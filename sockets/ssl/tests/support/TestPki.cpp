#include "TestPki.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

#include "common/tests/support/TestWait.h"

extern char** environ;

namespace ssltest {

int RunProgram(const std::vector<std::string>& args, const std::string& logFile) {
  std::vector<char*> argv;
  for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  std::string out = logFile.empty() ? "/dev/null" : logFile;
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 1, out.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0600);
  posix_spawn_file_actions_adddup2(&actions, 1, 2);
  pid_t pid;
  int rc = posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (rc != 0) return -1;
  const int status = WaitForChild(pid);
  return status >= 0 && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TTempDir::TTempDir() {
  const char* base = std::getenv("TMPDIR");
  std::string tmpl = std::string(base && *base ? base : "/tmp") + "/zelt-ssl-XXXXXX";
  if (!mkdtemp(tmpl.data())) throw std::runtime_error("mkdtemp failed");
  FPath = tmpl;
}

TTempDir::~TTempDir() {
  std::error_code ec;
  // Read-only files made by tests are removed with their folder.
  std::filesystem::permissions(FPath, std::filesystem::perms::owner_all, ec);
  std::filesystem::remove_all(FPath, ec);
}

std::string What(const std::function<void()>& f) {
  try {
    f();
  } catch (const std::exception& e) {
    return e.what();
  }
  return "no exception";
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

void WriteFile(const std::string& path, const std::string& data) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << data;
}

void TTestPki::Run(const std::vector<std::string>& args) {
  std::vector<std::string> full = {ZELT_OPENSSL_TOOL};
  full.insert(full.end(), args.begin(), args.end());
  std::string log = FDir.File("openssl.log");
  if (RunProgram(full, log) != 0) {
    std::string cmd;
    for (const auto& a : full) cmd += a + " ";
    throw std::runtime_error("openssl failed: " + cmd + "\n" + ReadFile(log));
  }
}

TTestPki::TTestPki() {
  FConfig = FDir.File("ca.cnf");
  WriteFile(FDir.File("index.txt"), "");
  WriteFile(FDir.File("crlnumber"), "01\n");
  WriteFile(FConfig,
            "[ ca ]\ndefault_ca = testca\n"
            "[ testca ]\ndir = " + FDir.Path() + "\n"
            "database = $dir/index.txt\nnew_certs_dir = $dir\ncrlnumber = $dir/crlnumber\nserial = $dir/serial\n"
            "certificate = $dir/ca.pem\nprivate_key = $dir/ca.key\n"
            "default_md = sha256\ndefault_days = 30\ndefault_crl_days = 30\n"
            "policy = anything\nunique_subject = no\ncopy_extensions = none\n"
            "[ anything ]\ncommonName = supplied\norganizationName = optional\n"
            "[ req ]\ndistinguished_name = dn\n[ dn ]\n"
            "[ v3_ca ]\nbasicConstraints = critical,CA:true\nkeyUsage = keyCertSign,cRLSign\n"
            "subjectKeyIdentifier = hash\n");
  FCa = {FDir.File("ca.pem"), FDir.File("ca.key")};
  Run({"req", "-x509", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:P-256", "-nodes", "-keyout",
       FCa.Key, "-out", FCa.Cert, "-days", "60", "-subj", "/CN=Zelt Test CA", "-config", FConfig,
       "-extensions", "v3_ca"});
}

std::string TTestPki::ExtFile(const std::string& name, const std::string& sans) {
  std::string ext = FDir.File(name + ".ext");
  std::string text = "basicConstraints = CA:false\nkeyUsage = digitalSignature,keyEncipherment\n"
                     "extendedKeyUsage = serverAuth,clientAuth\n";
  if (!sans.empty()) text += "subjectAltName = " + sans + "\n";
  WriteFile(ext, text);
  return ext;
}

TCertFiles TTestPki::Issue(const std::string& name, const std::string& subject, const std::string& sans,
                           const std::string& serial, const std::string& startDate,
                           const std::string& endDate) {
  TCertFiles files{FDir.File(name + ".pem"), FDir.File(name + ".key")};
  std::string csr = FDir.File(name + ".csr");
  Run({"req", "-new", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:P-256", "-nodes", "-keyout",
       files.Key, "-out", csr, "-subj", subject, "-config", FConfig});
  std::string serialText = serial;
  if (serialText.empty()) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "%X", FSerial++);
    serialText = buf;
  } else if (serialText.rfind("0x", 0) == 0) {
    serialText = serialText.substr(2);
  }
  if (serialText.size() % 2) serialText = "0" + serialText;
  WriteFile(FDir.File("serial"), serialText + "\n");
  std::vector<std::string> args = {"ca", "-batch", "-config", FConfig, "-in", csr, "-out", files.Cert,
                                   "-extfile", ExtFile(name, sans), "-notext"};
  if (!startDate.empty()) args.insert(args.end(), {"-startdate", startDate});
  if (!endDate.empty()) args.insert(args.end(), {"-enddate", endDate});
  Run(args);
  return files;
}

TCertFiles TTestPki::SelfSigned(const std::string& name, const std::string& subject, const std::string& sans) {
  TCertFiles files{FDir.File(name + ".pem"), FDir.File(name + ".key")};
  std::vector<std::string> args = {"req", "-x509", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:P-256",
                                   "-nodes", "-keyout", files.Key, "-out", files.Cert, "-days", "30",
                                   "-subj", subject, "-config", FConfig};
  if (!sans.empty()) args.insert(args.end(), {"-addext", "subjectAltName = " + sans});
  Run(args);
  return files;
}

std::string TTestPki::EncryptKey(const std::string& keyFile, const std::string& passPhrase) {
  std::string out = keyFile + ".enc";
  Run({"pkey", "-in", keyFile, "-aes256", "-passout", "pass:" + passPhrase, "-out", out});
  return out;
}

std::string TTestPki::Revoke(const std::string& certFile) {
  Run({"ca", "-batch", "-config", FConfig, "-revoke", certFile});
  return EmptyCrl();
}

std::string TTestPki::EmptyCrl() {
  std::string crl = FDir.File("ca.crl");
  Run({"ca", "-batch", "-config", FConfig, "-gencrl", "-out", crl});
  return crl;
}

std::string TTestPki::Bundle(const TCertFiles& files, const std::string& name) {
  std::string path = FDir.File(name);
  WriteFile(path, ReadFile(files.Cert) + ReadFile(files.Key));
  return path;
}

}  // namespace ssltest
