// JSON Web Keys (RFC 7517/7518) read: an object with "kty":"RSA", "n" and "e", and for a private key
// "d" with either all of "p", "q", "dp", "dq", "qi" or none of them (the factors are then recovered
// from e and d); or a JWK Set, {"keys":[...]}, holding exactly one key. Numbers are base64url without
// padding, big-endian.
#include <nlohmann/json.hpp>

#include "keys/Base64.h"
#include "keys/KeyError.h"
#include "keys/KeyFormats.h"

namespace Qarvex::Keys::Internal {

namespace {

using Json = nlohmann::json;

// Overwrites the private members' strings inside the parsed document before it is freed.
void WipeMembers(Json& key) {
  if (!key.is_object()) return;
  for (const char* name : {"d", "p", "q", "dp", "dq", "qi"}) {
    const auto it = key.find(name);
    if (it != key.end() && it->is_string()) Wipe(it->get_ref<std::string&>());
  }
}

class JsonWiper {
 public:
  explicit JsonWiper(Json& json) : FJson(json) {}
  ~JsonWiper() {
    if (FJson.is_object() && FJson.contains("keys") && FJson["keys"].is_array())
      for (Json& key : FJson["keys"]) WipeMembers(key);
    WipeMembers(FJson);
  }

 private:
  Json& FJson;
};

}  // namespace

void ReadJwk(const std::string& text, const std::string& path, KeyParts& parts) {
  Json document;
  try {
    document = Json::parse(text);
  } catch (const Json::parse_error& error) {
    throw KeyError(path + " is not valid JSON (at byte " + std::to_string(error.byte) + ")");
  }
  JsonWiper wiper(document);
  if (!document.is_object()) throw KeyError(path + " is JSON but not a JSON Web Key (not an object)");
  Json* key = &document;
  std::string format = "a JWK";
  if (document.contains("keys")) {
    format = "a JWK Set";
    Json& keys = document["keys"];
    if (!keys.is_array()) throw KeyError(path + " (" + format + ") is damaged: \"keys\" is not an array");
    if (keys.size() != 1) {
      std::string held;
      for (const Json& k : keys) {
        if (!held.empty()) held += ", ";
        held += k.is_object() && k.contains("kty") && k["kty"].is_string() ? k["kty"].get<std::string>() : "?";
      }
      throw KeyError(path + " (" + format + ") holds " + std::to_string(keys.size()) + " keys" +
                     (held.empty() ? "" : " (" + held + ")") + "; a key file holds one");
    }
    key = &keys[0];
    if (!key->is_object()) throw KeyError(path + " (" + format + ") is damaged: its key is not an object");
  }
  parts.Format = format;
  const std::string what = path + " (" + format + ")";
  const auto kty = key->find("kty");
  if (kty == key->end() || !kty->is_string()) throw KeyError(what + " has no \"kty\" member");
  if (*kty != "RSA") throw KeyError(what + " is of type " + kty->get<std::string>() + ", not an RSA key");
  if (key->contains("oth")) throw KeyError(what + " has more than two prime factors, which is not supported");
  auto member = [&](const char* name, std::string& out) {
    const auto it = key->find(name);
    if (it == key->end()) return false;
    if (!it->is_string()) throw KeyError(what + ": its member \"" + name + "\" is not a string");
    auto bytes = Base64UrlDecode(it->get_ref<const std::string&>());
    if (!bytes) throw KeyError(what + ": its member \"" + name + "\" is not base64url");
    if (bytes->empty()) throw KeyError(what + ": its member \"" + name + "\" is empty");
    out = std::move(*bytes);
    return true;
  };
  if (!member("n", parts.N)) throw KeyError(what + " has no member \"n\"");
  if (!member("e", parts.E)) throw KeyError(what + " has no member \"e\"");
  parts.HasN = parts.HasE = true;
  parts.HasD = member("d", parts.D);
  const bool p = member("p", parts.P), q = member("q", parts.Q), dp = member("dp", parts.Dp),
             dq = member("dq", parts.Dq), qi = member("qi", parts.Qi);
  const int count = int(p) + int(q) + int(dp) + int(dq) + int(qi);
  if (count != 0 && (count != 5 || !parts.HasD))
    throw KeyError(what + " gives some of \"p\", \"q\", \"dp\", \"dq\", \"qi\" but not all, or without \"d\"");
  parts.HasFactors = parts.HasCrt = count == 5;
}

}  // namespace Qarvex::Keys::Internal
