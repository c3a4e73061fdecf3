#pragma once
// Certificates, keys and revocation lists made at test time by the openssl command-line tool in a
// temporary folder that is removed afterwards.
#include <functional>
#include <string>
#include <vector>

namespace ssltest {

// Runs a program with arguments (no shell); returns its exit status, -1 when it could not start.
int RunProgram(const std::vector<std::string>& args, const std::string& logFile = {});

class TTempDir {
public:
  TTempDir();
  ~TTempDir();
  const std::string& Path() const { return FPath; }
  std::string File(const std::string& name) const { return FPath + "/" + name; }

private:
  std::string FPath;
};

struct TCertFiles {
  std::string Cert;  // PEM certificate
  std::string Key;   // PEM private key, unencrypted
};

class TTestPki {
public:
  TTestPki();
  const std::string& Dir() const { return FDir.Path(); }
  std::string File(const std::string& name) const { return FDir.File(name); }

  // The root authority of the test PKI (CN "Zelt Test CA").
  const TCertFiles& Ca() const { return FCa; }
  // A leaf issued by the CA. sans: "DNS:x,IP:y" or empty; serial: "0x.." or empty;
  // startDate/endDate "YYYYMMDDhhmmssZ" or empty (then 30 days from now).
  TCertFiles Issue(const std::string& name, const std::string& subject, const std::string& sans = {},
                   const std::string& serial = {}, const std::string& startDate = {},
                   const std::string& endDate = {});
  // A self-signed certificate that the CA did not issue.
  TCertFiles SelfSigned(const std::string& name, const std::string& subject, const std::string& sans = {});
  // The key encrypted with a pass phrase (AES-256).
  std::string EncryptKey(const std::string& keyFile, const std::string& passPhrase);
  // Revokes the certificate and writes the CA's CRL; returns the CRL file.
  std::string Revoke(const std::string& certFile);
  // A CRL with nothing revoked.
  std::string EmptyCrl();
  // Cert and key concatenated in one PEM file.
  std::string Bundle(const TCertFiles& files, const std::string& name);

private:
  void Run(const std::vector<std::string>& args);
  std::string ExtFile(const std::string& name, const std::string& sans);

  TTempDir FDir;
  TCertFiles FCa;
  std::string FConfig;
  int FSerial = 0x1000;
};

// The message of the exception f raises, or "no exception".
std::string What(const std::function<void()>& f);

std::string ReadFile(const std::string& path);
void WriteFile(const std::string& path, const std::string& data);

}  // namespace ssltest
