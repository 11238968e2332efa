// The kind of hook receiver people run today: Node's http module, JSON.parse of the body, "ok".
// Usage: node node-server.js PORT
const http = require("http");

const port = Number(process.argv[2] || 51790);
const server = http.createServer((request, response) => {
  const chunks = [];
  request.on("data", (chunk) => chunks.push(chunk));
  request.on("end", () => {
    try {
      JSON.parse(Buffer.concat(chunks).toString("utf8"));
    } catch (error) {
      // an undecodable body is dropped, as ours does
    }
    response.writeHead(200, { "Content-Length": "2", Connection: "close" });
    response.end("ok");
  });
});
server.listen(port, "127.0.0.1", () => console.error(`node peer listening on ${port}`));
