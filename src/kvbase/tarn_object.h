// The base library's object. The process holds one static instance for its
// whole life; nothing else of it is used.
#ifndef SCHEDEXE_KVBASE_TARN_OBJECT_H_
#define SCHEDEXE_KVBASE_TARN_OBJECT_H_

class TarnObject {
 public:
  TarnObject();
  virtual ~TarnObject();

  TarnObject(const TarnObject&) = delete;
  TarnObject& operator=(const TarnObject&) = delete;
};

#endif  // SCHEDEXE_KVBASE_TARN_OBJECT_H_
