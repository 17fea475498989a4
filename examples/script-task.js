// A page for the host (--script): it implements the task type "Greeting".
// The type is registered through TQX.ScriptTaskHandler; every "Task"/"Start"
// of that type reaches onBatch, and the task is driven through TQX.Task.
var handler = TQX.create('TQX.ScriptTaskHandler');
TQX.call(handler, 'register', {name: 'Greeting'});
var center = TQX.create('TQX.NotificationCenter');
TQX.call(center, 'addObserver', {type: 'Task', notification: 'Start', callbackId: 'taskStart'});

function greet(taskId) {
  var task = TQX.create('TQX.Task', taskId);
  var who = TQX.call(task, 'getStringArgument', {name: 'who'});
  TQX.call(task, 'setStatus', {status: 'Greeting ' + who});
  TQX.call(task, 'print', {message: 'Hello, ' + who + ', from the page script'});
  TQX.call(task, 'complete', {json: JSON.stringify({successful: true})});
  TQX.release(task);
}

function onBatch(items) {
  items.forEach(function (item) {
    if (item.callbackId === 'taskStart' && item.info && item.info.type === 'Greeting') greet(item.sender);
  });
}

function onUnload() {
  TQX.call(center, 'removeObserver', {type: 'Task', notification: 'Start', callbackId: 'taskStart'});
  TQX.call(handler, 'unregister', {name: 'Greeting'});
}
