#pragma once
// How a stream reports to its owner. notifyOnClose and notifyOnError end with
// both streams of the pair closed and destroyed; after either call the stream
// touches neither itself nor its pair.

#include <string>

class CTcpSockStreamParent {
 public:
  virtual void notifyOnAccept(int index, std::string kind) = 0;
  virtual void notifyOnConnect(int index, std::string kind) = 0;
  virtual void notifyOnClose(int index, std::string kind) = 0;
  virtual void notifyOnError(int index, std::string kind, int err) = 0;
  virtual ~CTcpSockStreamParent() = default;
};
