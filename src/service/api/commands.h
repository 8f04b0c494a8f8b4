#pragma once

#include "service/api/vocabulary.h"

#include <QByteArray>
#include <QJsonObject>

namespace kestra::api {

// An answer: the HTTP status and the JSON body.
struct Answer
{
    int status = 200;
    QJsonObject body;
};

// {"api": 1, "ok": false, "error": {"status": 400, "text": "..."}}
Answer refusal(int status, const QString& text);

// Runs one command (a JSON object, docs/api.md) on the main thread through the
// model's own edit methods. A request that is no command (bad JSON, an unknown
// command, a number out of range) gets 400 and changes nothing; a command the
// switch refuses gets 422 with the error's number and the text its window's
// error routine would show.
// `only`: the one command this call takes (a path of its own); others get 400.
Answer runCommand(const Sources& s, const QByteArray& body, const QString& only = {});

} // namespace kestra::api
