#include "firmware/FirmwareTransferEnvironment.h"

#include "firmware/UdpFirmwareTransport.h"
#include "net/CSupport.h"

#include <mutex>
#include <thread>
#include <utility>

namespace qarn {

namespace {

std::mutex& ClientFactoryLock() {
    static std::mutex lock;
    return lock;
}

ClientTransportFactory& ClientFactory() {
    static ClientTransportFactory factory;
    return factory;
}

std::unique_ptr<IFirmwareTransport> MakeClientTransport(int32_t limit) {
    ClientTransportFactory factory;
    {
        const std::lock_guard<std::mutex> guard(ClientFactoryLock());
        factory = ClientFactory();
    }
    return factory ? factory(limit) : nullptr;
}

} // namespace

void SetClientTransportFactory(ClientTransportFactory factory) {
    const std::lock_guard<std::mutex> guard(ClientFactoryLock());
    ClientFactory() = std::move(factory);
}

FirmwareTransferEnvironment FirmwareTransferEnvironment::Default() {
    FirmwareTransferEnvironment environment;
    environment.makeTransport = [](bool useUdp,
                                   int32_t clientLimit) -> std::unique_ptr<IFirmwareTransport> {
        if (useUdp)
            return std::make_unique<UdpFirmwareTransport>();
        return MakeClientTransport(clientLimit);
    };
    environment.pingWait = [](const std::string& target, int32_t retries) {
        return CSupport::PingWait(target, retries);
    };
    environment.sleep = [](std::chrono::milliseconds span) { std::this_thread::sleep_for(span); };
    environment.answerWait = AnswerWait::Event;
    return environment;
}

} // namespace qarn
