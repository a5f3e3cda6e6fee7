// Init script of the web page's test: a navigator.serial with one port, an FTDI adapter,
// whose bytes go over a WebSocket to the relay (relay.mjs) at the page's own origin and from
// there to a simulated receiver's pty. Each open tells the relay its speed. The test unplugs
// and plugs the adapter with window.fakeSerial.unplug() and .plug().
(() => {
  const serial = new EventTarget();
  const info = {usbVendorId: 0x0403, usbProductId: 0x6001};
  const lost = () => new DOMException('The device has been lost.', 'NetworkError');

  // Events about a port reach navigator.serial with the port as their target.
  function announce(type, port) {
    const event = new Event(type);
    Object.defineProperty(event, 'target', {value: port});
    serial.dispatchEvent(event);
  }

  class FakePort extends EventTarget {
    constructor() {
      super();
      this.connected = true;
      this.readable = null;
      this.writable = null;
      this.session = null;
    }

    getInfo() {
      return info;
    }

    async open(options) {
      if (!this.connected) throw lost();
      if (this.session) throw new DOMException('The port is already open.', 'InvalidStateError');
      const socket = new WebSocket(`ws://${location.host}/line`);
      socket.binaryType = 'arraybuffer';
      await new Promise((ready, fail) => {
        socket.onopen = ready;
        socket.onerror = () => fail(new DOMException('Failed to open serial port.', 'NetworkError'));
      });
      const session = {socket, answers: [], controller: null};
      socket.onmessage = (message) => {
        if (typeof message.data === 'string') {
          session.answers.shift()?.(JSON.parse(message.data));
        } else if (session.controller) {
          session.controller.enqueue(new Uint8Array(message.data));
        }
      };
      session.ask = (question) => new Promise((answer) => {
        session.answers.push(answer);
        socket.send(JSON.stringify(question));
      });
      const {opened} = await session.ask({open: options.baudRate});
      if (!opened) {
        socket.close();
        throw new DOMException('Failed to open serial port.', 'NetworkError');
      }
      this.session = session;
      this.readable = new ReadableStream({
        start: (controller) => (session.controller = controller),
        cancel: () => (session.controller = null)
      });
      this.writable = new WritableStream({
        write: (chunk) => {
          if (this.session !== session) throw lost();
          socket.send(chunk);
        }
      });
      window.fakeSerial.opens.push({baudRate: options.baudRate, at: performance.now()});
    }

    async close() {
      const session = this.session;
      if (!session) throw new DOMException('The port is already closed.', 'InvalidStateError');
      this.session = null;
      this.readable = null;
      this.writable = null;
      if (session.socket.readyState === WebSocket.OPEN && this.connected) {
        await session.ask({close: true});
      }
      session.socket.close();
    }

    unplug() {
      this.connected = false;
      const session = this.session;
      if (session) {
        session.controller?.error(lost());
        session.controller = null;
        session.socket.send(JSON.stringify({close: true}));
        session.socket.close();
      }
      this.readable = null;
      announce('disconnect', this);
    }

    plug() {
      this.connected = true;
      announce('connect', this);
    }
  }

  const port = new FakePort();
  serial.requestPort = async () => port;
  serial.getPorts = async () => (port.connected ? [port] : []);
  Object.defineProperty(Navigator.prototype, 'serial', {get: () => serial, configurable: true});
  window.fakeSerial = {
    port,
    opens: [],
    unplug: () => port.unplug(),
    plug: () => port.plug()
  };
})();
