#pragma once

#include <QString>

typedef struct _GstAppSrc GstAppSrc;
class Producer;

// What a producer hands its decoded frames to: the one way a Producer sees its consumers, so that the
// producer knows nothing of how they draw.
//
// isWaitingForData() and appSrcRef() are called on the producer's streaming thread under its consumer
// lock; detachFromProducer() on the GUI thread by a producer being destroyed, after it has stopped its
// pipeline and dropped the sink from its list.
class FrameSink
{
public:
    virtual ~FrameSink() = default;
    // For the log.
    virtual QString sinkName() const = 0;
    // Whether the sink asks for a frame now.
    virtual bool isWaitingForData() const = 0;
    // The app source to push into, with a new reference (null without a pipeline).
    virtual GstAppSrc *appSrcRef() const = 0;
    virtual void detachFromProducer(Producer *producer) = 0;
};
