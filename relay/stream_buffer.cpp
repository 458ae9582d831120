#include "relay/stream_buffer.h"

#include "relay/buffer_pool.h"

void CStreamBuffer::setSize(size_t size, CEventLoop& loop) {
  giveBack();
  size_ = size;
  loop_ = &loop;
}

char* CStreamBuffer::acquire() {
  if (data_ || size_ == 0) return data_;
  data_ = loop_->bufferPool().take(size_);
  return data_;
}

void CStreamBuffer::giveBack() {
  if (!data_) return;
  loop_->bufferPool().put(data_, size_);
  data_ = nullptr;
}
