// The client library's value types, object handles, error types and the wire
// codec, without a network.

#include "es/korvues.h"
#include "platform/esclient/wire.h"

#include <QtTest>

#include <cmath>
#include <limits>

using namespace korvu::es;

Q_DECLARE_METATYPE(korvu::es::Value)

class TestEsValues : public QObject
{
    Q_OBJECT

private slots:
    void textFormsOfEveryKind_data()
    {
        QTest::addColumn<Value>("value");
        QTest::addColumn<QString>("text");
        QTest::newRow("bool true") << Value::fromBool(true) << "true";
        QTest::newRow("bool false") << Value::fromBool(false) << "false";
        QTest::newRow("int") << Value::fromInt(-42) << "-42";
        QTest::newRow("int 64-bit") << Value::fromInt(9007199254740993LL) << "9007199254740993";
        QTest::newRow("int 1 is not a fisheye text") << Value::fromInt(1) << "1";
        QTest::newRow("float half") << Value::fromFloat(0.5) << "0.5";
        QTest::newRow("float whole") << Value::fromFloat(180.0) << "180";
        QTest::newRow("float six digits") << Value::fromFloat(3.14159265) << "3.14159";
        QTest::newRow("float large") << Value::fromFloat(1e6) << "1e+06";
        QTest::newRow("float negative small") << Value::fromFloat(-0.0001) << "-0.0001";
        QTest::newRow("string") << Value::fromString("ref://GW-1/1") << "ref://GW-1/1";
        QTest::newRow("string utf-8") << Value::fromString("C\xc3\xa2mera") << "C\xc3\xa2mera";
        QTest::newRow("none") << Value() << "";
        QTest::newRow("id") << Value::fromId(1234567890123LL) << "1234567890123";
        QTest::newRow("data") << Value::fromData({0, 1, 2, 255}) << "AAEC/w==";
        QTest::newRow("data one byte") << Value::fromData({'M'}) << "TQ==";
        QTest::newRow("data empty") << Value::fromData({}) << "";
        QTest::newRow("date") << Value::fromDate({2024, 2, 29}) << "2024-02-29";
        QTest::newRow("time") << Value::fromTime({7, 5, 9, 0}) << "07:05:09";
        QTest::newRow("time with ms") << Value::fromTime({23, 59, 59, 999}) << "23:59:59.999";
        QTest::newRow("date time") << Value::fromDateTime({{1999, 12, 31}, {23, 0, 1, 20}})
                                   << "1999-12-31T23:00:01.020";
        QTest::newRow("timestamp epoch") << Value::fromTimestamp(0) << "1970-01-01T00:00:00.000Z";
        QTest::newRow("timestamp") << Value::fromTimestamp(1700000000123LL) << "2023-11-14T22:13:20.123Z";
        QTest::newRow("timestamp before epoch") << Value::fromTimestamp(-1) << "1969-12-31T23:59:59.999Z";
    }

    void textFormsOfEveryKind()
    {
        QFETCH(Value, value);
        QFETCH(QString, text);
        QCOMPARE(QString::fromStdString(value.toString()), text);
    }

    void floatTextIgnoresTheGlobalLocale()
    {
        struct Comma : std::numpunct<char>
        {
            char do_decimal_point() const override { return ','; }
        };
        const std::locale previous = std::locale::global(std::locale(std::locale::classic(), new Comma));
        const std::string text = Value::fromFloat(2.5).toString();
        std::locale::global(previous);
        QCOMPARE(text, std::string("2.5"));
    }

    void outOfRangeDatesAndTimesAreNone_data()
    {
        QTest::addColumn<Value>("value");
        QTest::newRow("feb 29 of a common year") << Value::fromDate({2023, 2, 29});
        QTest::newRow("month 13") << Value::fromDate({2023, 13, 1});
        QTest::newRow("day 0") << Value::fromDate({2023, 1, 0});
        QTest::newRow("hour 24") << Value::fromTime({24, 0, 0, 0});
        QTest::newRow("ms 1000") << Value::fromTime({1, 0, 0, 1000});
        QTest::newRow("date time bad date") << Value::fromDateTime({{2023, 4, 31}, {0, 0, 0, 0}});
    }

    void outOfRangeDatesAndTimesAreNone()
    {
        QFETCH(Value, value);
        QVERIFY(value.isNone());
        QCOMPARE(value.toString(), std::string());
    }

    void accessorsReturnZeroForOtherKinds()
    {
        const Value text = Value::fromString("12");
        QCOMPARE(text.toInt(), 0LL);
        QCOMPARE(text.toBool(), false);
        QCOMPARE(text.toFloat(), 0.0);
        QCOMPARE(Value::fromInt(12).toInt(), 12LL);
        QCOMPARE(Value::fromId(12).toInt(), 0LL);
        QCOMPARE(Value::fromId(12).toId(), 12LL);
        QCOMPARE(Value::fromDateTime({{2020, 1, 2}, {3, 4, 5, 6}}).toDate().day, 2);
        QCOMPARE(Value::fromDateTime({{2020, 1, 2}, {3, 4, 5, 6}}).toTime().millisecond, 6);
        QVERIFY(Value::fromInt(1) != Value::fromId(1));
        QVERIFY(Value::fromData({1, 2}) == Value::fromData({1, 2}));
    }

    void settingsKeepOrderAndReplaceInPlace()
    {
        NameValueMap map;
        map.set("url", Value::fromString("a"));
        map.set("Title", Value::fromString("T"));
        map.set("title", Value::fromString("t"));
        map.set("url", Value::fromString("b"));
        QCOMPARE(map.names(), (std::vector<std::string>{"url", "Title", "title"}));
        QCOMPARE(map.value("url").toString(), std::string("b"));
        QCOMPARE(map.value("TITLE").kind(), Value::Kind::None);
        QVERIFY(!map.contains("TITLE"));
        QCOMPARE(map.size(), std::size_t(3));
    }

    void objectHandlesShareAndConvertByType()
    {
        NameValueMap settings;
        settings.set("host", Value::fromString("127.0.0.1"));
        const Object device(5, 1, Object::Device, "Gateway", "gateway", "GW-5", settings);
        const Object copy = device;
        QCOMPARE(&copy.name(), &device.name()); // one shared object
        QCOMPARE(device.toDevice().serialNumber(), std::string("GW-5"));
        QVERIFY(device.toStream().isNull());
        QCOMPARE(device.toStream().serialNumber(), std::string());
        QCOMPARE(device.toDevice().object().id(), 5LL);

        const Object stream(6, 5, Object::Stream, "cam", "video.live", "S-6", NameValueMap());
        QCOMPARE(stream.toStream().serialNumber(), std::string("S-6"));
        QVERIFY(stream.toDevice().isNull());

        const Object odd(7, 5, 42, "odd", "x", "S-7", NameValueMap());
        QCOMPARE(int(odd.type()), 42);
        QVERIFY(odd.toDevice().isNull() && odd.toStream().isNull());

        const Object empty;
        QVERIFY(empty.isNull());
        QCOMPARE(empty.id(), 0LL);
        QCOMPARE(empty.name(), std::string());
        QVERIFY(empty.settings().empty());
    }

    void errorsFormOneHierarchy()
    {
        const HandlerError handler("Invalid user name or password", 401);
        const Error &error = handler;
        const Exception &exception = handler;
        const std::exception &standard = handler;
        QCOMPARE(error.code(), 401);
        QCOMPARE(exception.message(), std::string("Invalid user name or password"));
        QCOMPARE(std::string(standard.what()), std::string("Invalid user name or password"));
        const ConnectionError connection("", 1002);
        QCOMPARE(connection.message(), std::string());
        QCOMPARE(connection.code(), 1002);
    }

    void loggerFiltersByLevel()
    {
        std::vector<std::string> lines;
        Logger logger([&](const std::string &line, LogLevel) { lines.push_back(line); }, LogLevel::Info);
        logger.log(LogLevel::Debug, "hidden");
        logger.log(LogLevel::Info, "shown");
        logger.log(LogLevel::Error, "shown too");
        QCOMPARE(lines, (std::vector<std::string>{"shown", "shown too"}));
    }

    void frameDecoderReassemblesAnySplit()
    {
        const std::string stream =
            wire::encodeFrame(std::string("{\"t\":\"a\"}")) + wire::encodeFrame(std::string("{\"t\":\"bb\"}"));
        for (std::size_t piece = 1; piece <= stream.size(); ++piece) {
            wire::FrameDecoder decoder(1024);
            std::vector<std::string> frames;
            for (std::size_t i = 0; i < stream.size(); i += piece) {
                decoder.feed(stream.data() + i, std::min(piece, stream.size() - i));
                std::string payload;
                while (decoder.next(&payload) == wire::FrameDecoder::Status::Frame)
                    frames.push_back(payload);
            }
            QCOMPARE(frames, (std::vector<std::string>{"{\"t\":\"a\"}", "{\"t\":\"bb\"}"}));
            QCOMPARE(decoder.buffered(), std::size_t(0));
        }
    }

    void frameDecoderRejectsEmptyAndOversizedFrames()
    {
        std::string payload;
        wire::FrameDecoder empty(1024);
        empty.feed("\0\0\0\0", 4);
        QCOMPARE(empty.next(&payload), wire::FrameDecoder::Status::Error);
        QCOMPARE(empty.errorCode(), int(ErrorCode::ProtocolError));

        wire::FrameDecoder large(1024);
        large.feed("\0\0\x04\x01", 4); // 1025 bytes announced
        QCOMPARE(large.next(&payload), wire::FrameDecoder::Status::Error);
        QCOMPARE(large.errorCode(), int(ErrorCode::FrameTooLarge));
        large.feed("{}", 2);
        QCOMPARE(large.next(&payload), wire::FrameDecoder::Status::Error); // stays broken

        wire::FrameDecoder exact(1024);
        const std::string body(1024, ' ');
        const std::string frame = wire::encodeFrame(body);
        exact.feed(frame.data(), frame.size());
        QCOMPARE(exact.next(&payload), wire::FrameDecoder::Status::Frame);
        QCOMPARE(payload.size(), std::size_t(1024));

        wire::FrameDecoder truncated(1024);
        truncated.feed(frame.data(), 100);
        QCOMPARE(truncated.next(&payload), wire::FrameDecoder::Status::NeedMore);
    }

    void valuesSurviveTheWire_data()
    {
        QTest::addColumn<Value>("value");
        QTest::newRow("none") << Value();
        QTest::newRow("bool") << Value::fromBool(true);
        QTest::newRow("int min") << Value::fromInt(std::numeric_limits<long long>::min());
        QTest::newRow("float") << Value::fromFloat(0.1);
        QTest::newRow("float inf") << Value::fromFloat(-std::numeric_limits<double>::infinity());
        QTest::newRow("string") << Value::fromString("a\"b\\c\n");
        QTest::newRow("id") << Value::fromId(42);
        QTest::newRow("data") << Value::fromData({0, 0, 0, 1, 200});
        QTest::newRow("date") << Value::fromDate({1, 1, 1});
        QTest::newRow("time") << Value::fromTime({0, 0, 0, 1});
        QTest::newRow("date time") << Value::fromDateTime({{9999, 12, 31}, {23, 59, 59, 999}});
        QTest::newRow("timestamp") << Value::fromTimestamp(-86400001LL);
    }

    void valuesSurviveTheWire()
    {
        QFETCH(Value, value);
        const nlohmann::json encoded = wire::encodeValue(value);
        const nlohmann::json text = nlohmann::json::parse(encoded.dump());
        Value decoded;
        std::string error;
        QVERIFY2(wire::decodeValue(Value::kindName(value.kind()), text, &decoded, &error), error.c_str());
        QVERIFY(decoded == value);
        QCOMPARE(decoded.toString(), value.toString());
    }

    void nanFloatSurvivesTheWire()
    {
        Value decoded;
        std::string error;
        const auto encoded = wire::encodeValue(Value::fromFloat(std::nan("")));
        QVERIFY(wire::decodeValue("float", encoded, &decoded, &error));
        QVERIFY(std::isnan(decoded.toFloat()));
        QCOMPARE(decoded.toString(), std::string("nan"));
    }

    void malformedObjectsAreRejected_data()
    {
        QTest::addColumn<QString>("json");
        QTest::newRow("not an object") << "[]";
        QTest::newRow("id as text") << R"({"id":"1","parent":0,"type":2,"name":"a","class":"b"})";
        QTest::newRow("no name") << R"({"id":1,"parent":0,"type":2,"class":"b"})";
        QTest::newRow("settings object") << R"({"id":1,"parent":0,"type":2,"name":"a","class":"b","settings":{}})";
        QTest::newRow("setting pair") << R"({"id":1,"parent":0,"type":2,"name":"a","class":"b","settings":[["x",1]]})";
        QTest::newRow("unknown kind")
            << R"({"id":1,"parent":0,"type":2,"name":"a","class":"b","settings":[["x","colour","red"]]})";
        QTest::newRow("int kind with text")
            << R"({"id":1,"parent":0,"type":2,"name":"a","class":"b","settings":[["x","int","5"]]})";
        QTest::newRow("bad date")
            << R"({"id":1,"parent":0,"type":2,"name":"a","class":"b","settings":[["x","date","2023-02-30"]]})";
        QTest::newRow("bad base64")
            << R"({"id":1,"parent":0,"type":2,"name":"a","class":"b","settings":[["x","data","@@@@"]]})";
        QTest::newRow("id beyond 64 bits")
            << R"({"id":18446744073709551615,"parent":0,"type":2,"name":"a","class":"b"})";
        QTest::newRow("type beyond int") << R"({"id":1,"parent":0,"type":4294967296,"name":"a","class":"b"})";
    }

    void malformedObjectsAreRejected()
    {
        QFETCH(QString, json);
        Object object;
        std::string error;
        QVERIFY(!wire::decodeObject(nlohmann::json::parse(json.toStdString()), &object, &error));
        QVERIFY(!error.empty());
        QVERIFY(object.isNull());
    }

    void objectsSurviveTheWire()
    {
        NameValueMap settings;
        settings.set("host", Value::fromString("127.0.0.1"));
        settings.set("port", Value::fromInt(18081));
        const Object device(1001, 100, Object::Device, "Gateway 1", "gateway", "GW-0001", settings);
        Object decoded;
        std::string error;
        QVERIFY(wire::decodeObject(nlohmann::json::parse(wire::encodeObject(device).dump()), &decoded, &error));
        QCOMPARE(decoded.id(), 1001LL);
        QCOMPARE(decoded.parent(), 100LL);
        QCOMPARE(decoded.type(), Object::Device);
        QCOMPARE(decoded.name(), std::string("Gateway 1"));
        QCOMPARE(decoded.className(), std::string("gateway"));
        QCOMPARE(decoded.toDevice().serialNumber(), std::string("GW-0001"));
        QCOMPARE(decoded.settings().names(), settings.names());
        QVERIFY(decoded.settings().value("port") == Value::fromInt(18081));
    }
};

QTEST_GUILESS_MAIN(TestEsValues)
#include "tst_esvalues.moc"
