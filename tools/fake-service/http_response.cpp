#include "fake-service/http_response.h"

HttpResponse HttpResponse::json(int status, const QByteArray &body)
{
    HttpResponse r;
    r.status = status;
    r.body = body;
    return r;
}

HttpResponse HttpResponse::dropped()
{
    HttpResponse r;
    r.dropConnection = true;
    return r;
}
